#pragma once
// Device paths and search patterns, as every backend reads them.

#include <QString>
#include <QStringList>

#include <optional>

namespace chimora {

/// The names along an absolute device path ("\A\B" gives A, B; "\" gives none). None when the
/// path does not start with "\" or a name is "." or ".." or holds "/" or NUL: such a path
/// could lead out of the device's folders.
std::optional<QStringList> devicePathParts(const QString& path);

/// Splits a search pattern into the folder it searches and the name mask ("\A\*.*" gives "\A"
/// and "*.*"). False when the pattern holds no "\".
bool splitDevicePattern(const QString& pattern, QString* folder, QString* mask);

/// Whether `name` matches the mask: "*.*" and "*" match every name, as on the device; other
/// masks match by wildcards, without regard to case.
bool matchesDeviceMask(const QString& mask, const QString& name);

} // namespace chimora
