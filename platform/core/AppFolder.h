#pragma once

#include <QString>

namespace chimora {

/// The folder every file the program writes by itself goes to (settings, temporary audio): the
/// executable's folder, or, when that is not writable (an installed program), the per-user data
/// folder "chimora" under the XDG data home. Created on first use. UI thread or any thread after
/// the first call.
QString appFolder();

/// Path of a file in appFolder().
QString appFilePath(const QString& fileName);

/// Overrides the application folder (tests run several "installations" from one executable).
/// An empty path restores the default.
void setAppFolderForTesting(const QString& folder);

/// Finds a helper program (an encoder): the application folder first, then the executable's own
/// folder, then PATH. Returns an empty string when it is nowhere executable.
QString findProgram(const QString& name);

} // namespace chimora
