#include "platform/core/AtomicFile.h"

#include "platform/core/UniqueFd.h"

#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace chimora {

namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString folderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

/// Where writing through `path` ends: each link of ours or root's is followed (a relative
/// target from the link's folder). Empty when the links go round in circles.
QString resolveLinks(const QString& path) {
    QString current = path;
    for (int hop = 0; hop < 40; ++hop) {
        const QByteArray encoded = QFile::encodeName(current);
        struct stat st {};
        if (::lstat(encoded.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        if (st.st_uid != ::geteuid() && st.st_uid != 0)
            return current; // someone else's link: replaced, not followed
        QByteArray to(PATH_MAX, '\0');
        const ssize_t n = ::readlink(encoded.constData(), to.data(), size_t(to.size()));
        if (n <= 0 || n >= to.size())
            return current;
        to.truncate(n);
        const QString next = QFile::decodeName(to);
        // Not cleaned: ".." after a link is the kernel's to resolve.
        current =
            next.startsWith(QLatin1Char('/')) ? next : folderOf(current) + QLatin1Char('/') + next;
    }
    return {};
}

/// The process umask, read without changing it: umask() can only be read by setting it, which
/// would give files that other threads create meanwhile the wrong permissions.
mode_t processUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        while (!status.atEnd()) {
            const QByteArray line = status.readLine();
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask & 0777);
            }
        }
    }
    return 022;
}

} // namespace

AtomicFile::AtomicFile(const QString& target, LinkPolicy links)
    : m_links(links), m_target(QFileInfo(target).absoluteFilePath()) {
    if (links == LinkPolicy::WriteThrough)
        m_target = resolveLinks(m_target);
    // Short, so that a target name near the system's limit (255 bytes) still has one.
    if (!m_target.isEmpty())
        m_file.setFileTemplate(folderOf(m_target) + QStringLiteral("/.chimora-XXXXXX.part"));
    m_file.setAutoRemove(false);
}

AtomicFile::~AtomicFile() {
    if (!m_committed && !m_file.fileName().isEmpty()) {
        m_file.close();
        QFile::remove(m_file.fileName());
    }
}

bool AtomicFile::open() {
    if (m_target.isEmpty()) {
        m_error = QString::fromLocal8Bit(std::strerror(ELOOP));
        return false;
    }
    if (!m_file.open()) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

bool AtomicFile::write(const char* data, qint64 bytes) {
    if (m_file.write(data, bytes) != bytes) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

bool AtomicFile::commit() {
    // On disk before it replaces anything: a crash right after the rename must not leave an
    // empty file where the old one was.
    if (!m_file.flush() || ::fsync(m_file.handle()) != 0) {
        m_error = m_file.error() != QFileDevice::NoError ? m_file.errorString() : systemError();
        m_file.close();
        return false;
    }
    m_file.close();
    const QByteArray from = QFile::encodeName(m_file.fileName());
    const QByteArray to = QFile::encodeName(m_target);
    struct stat old {};
    mode_t mode;
    if (m_links == LinkPolicy::WriteThrough && ::lstat(to.constData(), &old) == 0 &&
        S_ISREG(old.st_mode)) {
        // Set-ID bits are never carried over: a rewritten file is not the program that had
        // them, and whoever wrote it (root) would otherwise hand out its own rights.
        mode = old.st_mode & 0777;
        // The file stays its owner's: replaced by root, a user's file must not become root's
        // (the user's own saves would fail from then on). Only root can give files away; for
        // anyone else the file is theirs already.
        if (::chown(from.constData(), old.st_uid, old.st_gid) != 0 && ::geteuid() == 0) {
            m_error = systemError();
            QFile::remove(m_file.fileName());
            return false;
        }
    } else {
        mode = 0666 & ~processUmask();
    }
    ::chmod(from.constData(), mode);
    if (std::rename(from.constData(), to.constData()) != 0) {
        m_error = systemError();
        return false;
    }
    m_committed = true;
    // The rename itself is on disk once the folder is.
    const UniqueFd dir(::open(QFile::encodeName(folderOf(m_target)).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.isOpen())
        ::fsync(dir.get());
    return true;
}

} // namespace chimora
