#pragma once

#include <QString>

namespace chimora {

/// The folder every file the program writes by itself goes to (settings, temporary audio): the
/// per-user data folder for an installed program (see appFolderFor), else the executable's
/// folder when writable, else the per-user data folder. Created on first use. UI thread or any
/// thread after the first call.
QString appFolder();

/// The application folder for an executable in `executableFolder`, without creating it. An
/// installed program (the executable in a prefix's bin/, beside that prefix's
/// share/applications/chimora.desktop) always uses the per-user data folder, also for a user
/// who could write into the prefix (root); a program copied into a writable folder of its own
/// uses that folder. The per-user data folder is "chimora" under $XDG_DATA_HOME, or under
/// ~/.local/share when that variable is unset or not an absolute path.
QString appFolderFor(const QString& executableFolder);

/// Path of a file in appFolder().
QString appFilePath(const QString& fileName);

/// Overrides the application folder (tests run several "installations" from one executable).
/// An empty path restores the default.
void setAppFolderForTesting(const QString& folder);

/// True when the file at `path`, and the folder that holds it (also the folder of the file a
/// link leads to), belong to this user or to root and cannot be written by group or others: a
/// file nobody else can have put there or changed. Otherwise false, with `why` (when given) set
/// to a sentence for the log. A missing file is not trusted.
bool isTrustedFile(const QString& path, QString* why = nullptr);

/// Finds a helper program (an encoder): the application folder first, then the executable's own
/// folder, then PATH. A copy in either folder is used only when isTrustedFile() says so; a
/// passed-over copy is logged with the reason. Returns an empty string when it is nowhere
/// executable.
QString findProgram(const QString& name);

} // namespace chimora
