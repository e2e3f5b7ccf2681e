#pragma once
// Whether a text can be the name of one file in a folder.

#include <QString>

namespace chimora {

/// The most bytes a file name can have here (in the file-name encoding, UTF-8).
constexpr int kMaxFileNameBytes = 255;

/// Why `name` cannot name a file in a folder, as the end of a sentence ("it is empty"); empty
/// when it can. Refused: an empty name, "." and "..", a name holding "/" or a NUL character,
/// and one longer than kMaxFileNameBytes.
QString fileNameProblem(const QString& name);

} // namespace chimora
