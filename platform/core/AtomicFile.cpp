#include "platform/core/AtomicFile.h"

#include "platform/core/UniqueFd.h"

#include <QFileInfo>

#include <cerrno>
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
} // namespace

AtomicFile::AtomicFile(const QString& target) : m_target(QFileInfo(target).absoluteFilePath()) {
    const QFileInfo info(m_target);
    m_file.setFileTemplate(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                           QStringLiteral(".XXXXXX.part"));
    m_file.setAutoRemove(false);
}

AtomicFile::~AtomicFile() {
    if (!m_committed && !m_file.fileName().isEmpty()) {
        m_file.close();
        QFile::remove(m_file.fileName());
    }
}

bool AtomicFile::open() {
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
    if (::stat(to.constData(), &old) == 0) {
        mode = old.st_mode & 07777;
        // The file stays its owner's: replaced by root, a user's file must not become root's
        // (the user's own saves would fail from then on). Only root can give files away; for
        // anyone else the file is theirs already.
        if (::chown(from.constData(), old.st_uid, old.st_gid) != 0 && ::geteuid() == 0) {
            m_error = systemError();
            QFile::remove(m_file.fileName());
            return false;
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::chmod(from.constData(), mode);
    if (std::rename(from.constData(), to.constData()) != 0) {
        m_error = systemError();
        return false;
    }
    m_committed = true;
    // The rename itself is on disk once the folder is.
    const UniqueFd dir(::open(QFile::encodeName(QFileInfo(m_target).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.isOpen())
        ::fsync(dir.get());
    return true;
}

} // namespace chimora
