#include "platform/core/AppFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace chimora {

namespace {

QString& overrideFolder() {
    static QString folder;
    return folder;
}

QString executableFolder() {
    QString dir = QCoreApplication::applicationDirPath();
    if (dir.isEmpty()) {
        // No QCoreApplication yet: ask the kernel where we run from.
        dir = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    }
    return dir;
}

bool isWritableFolder(const QString& dir) {
    return ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0;
}

// The installed desktop entry marks a prefix: the package and `cmake --install` both put it there.
bool isInstalledProgram(const QString& exeDir) {
    const QDir dir(exeDir);
    return dir.dirName() == QLatin1String("bin") &&
           QFileInfo::exists(dir.filePath(QStringLiteral("../share/applications/chimora.desktop")));
}

QString perUserDataFolder() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    // Relative values are invalid for XDG variables and would depend on the working folder.
    if (data.isEmpty() || QDir::isRelativePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data + QStringLiteral("/chimora"));
}

// Empty when `path` (a file or folder) is this user's or root's and only its owner may write it.
QString ownershipProblem(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("%1 cannot be examined").arg(path);
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return QStringLiteral("%1 belongs to another user (uid %2)").arg(path).arg(st.st_uid);
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("%1 can be written by others (mode %2)")
            .arg(path)
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

QString computeAppFolder() {
    const QString dir = appFolderFor(executableFolder());
    QDir().mkpath(dir);
    return dir;
}

} // namespace

QString appFolderFor(const QString& exeDir) {
    if (!isInstalledProgram(exeDir) && isWritableFolder(exeDir))
        return exeDir;
    return perUserDataFolder();
}

QString appFolder() {
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    static const QString folder = computeAppFolder();
    return folder;
}

QString appFilePath(const QString& fileName) {
    return appFolder() + QLatin1Char('/') + fileName;
}

void setAppFolderForTesting(const QString& folder) {
    overrideFolder() = folder;
    if (!folder.isEmpty())
        QDir().mkpath(folder);
}

bool isTrustedFile(const QString& path, QString* why) {
    const QFileInfo info(path);
    QStringList places{info.absoluteFilePath(), info.absolutePath()};
    // Through a link the file lies elsewhere; whoever may write there may change it.
    const QString real = info.canonicalFilePath();
    if (!real.isEmpty() && QFileInfo(real).absolutePath() != info.absolutePath())
        places << QFileInfo(real).absolutePath();
    for (const QString& place : places) {
        const QString problem = ownershipProblem(place);
        if (!problem.isEmpty()) {
            if (why)
                *why = problem;
            return false;
        }
    }
    return true;
}

QString findProgram(const QString& name) {
    for (const QString& dir : {appFolder(), executableFolder()}) {
        const QFileInfo candidate(dir + QLatin1Char('/') + name);
        if (!candidate.isFile() || !candidate.isExecutable())
            continue;
        // Whoever could have put it there would run their program as us.
        QString why;
        if (isTrustedFile(candidate.absoluteFilePath(), &why))
            return candidate.absoluteFilePath();
        qWarning("Not running %s: %s. Looking for %s on PATH instead.",
                 qPrintable(candidate.absoluteFilePath()), qPrintable(why), qPrintable(name));
    }
    return QStandardPaths::findExecutable(name);
}

} // namespace chimora
