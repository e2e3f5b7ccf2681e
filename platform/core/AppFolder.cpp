#include "platform/core/AppFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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

QString findProgram(const QString& name) {
    for (const QString& dir : {appFolder(), executableFolder()}) {
        const QFileInfo candidate(dir + QLatin1Char('/') + name);
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(name);
}

} // namespace chimora
