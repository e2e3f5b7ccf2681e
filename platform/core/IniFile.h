#pragma once
// Private-profile (INI) files: "[section]" header lines and "key=value" lines, edited in place
// so that every other section, key, comment and blank line stays as it was.
//
// Reading rules: section and key names are compared without regard to case; a value is
// trimmed of surrounding blanks, and one pair of matching surrounding quotes (" or ') is
// dropped; a value comes back cut to its first 254 characters. A missing file, section or key
// reads as an empty text.
//
// Values that would not read back as written: a value is one line in the file, so a text
// holding line breaks is stored as a double-quoted string with backslash escapes (\n, \r, \\,
// \"), decoded again on reading; so is a text that the reading rules would change (surrounding
// blanks or quotes). Every other value, which is every ordinary one-line text, is written byte
// for byte as it is. A quoted value in the file is decoded only when each of its backslashes
// starts one of those escapes.
//
// Line ends: CR, LF and CRLF each end a line, and every line keeps the ending it had; new
// lines take the file's first ending (LF in a new file). Text is read as UTF-8 where a line is
// valid UTF-8 and as Latin-1 otherwise; lines that are not changed are written back byte for
// byte, whatever their encoding, and changed ones as UTF-8.
//
// Files are written whole to a temporary file beside the target and renamed over it (keeping
// the old file's owner and mode), so a crash or a full disk never leaves a truncated file.

#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace chimora {

class IniFile {
public:
    /// Reads `path`; a missing or unreadable file gives an empty document (see wasRead()).
    explicit IniFile(const QString& path);

    /// True when the file existed and could be read.
    bool wasRead() const { return m_wasRead; }

    /// The value under [section] key, by the reading rules above.
    QString value(const QString& section, const QString& key) const;

    /// Stores `value` under [section] key, creating the section or key as needed and replacing
    /// an existing value in place.
    void setValue(const QString& section, const QString& key, const QString& value);

    /// Writes the document to the file atomically. Errors: BadInput for a file marked
    /// read-only (left alone on purpose); Environment for a file that exists but could not be
    /// read, a folder that cannot be written or a full disk. The file on disk is then unchanged.
    Result<void> write() const;
    /// write(), for callers that only need to know whether it worked.
    bool save() const;

    /// The most characters a value reads back with.
    static constexpr int MaxValueLength = 254;

private:
    /// One line as it stands in the file: its bytes and its ending (empty for a last line
    /// without one). Lines that no call changes are written back exactly as they were read.
    struct Line {
        QByteArray text;
        QByteArray ending;
    };
    int lineCount() const;
    QString text(int line) const;
    void insertLine(int at, const QString& text);
    int findSection(const QString& section) const;
    int findKey(int sectionLine, const QString& key, QString* rawValue) const;

    QString m_path;
    std::vector<Line> m_lines;
    QByteArray m_newline = "\n"; ///< the file's first line ending; LF for a new file
    bool m_wasRead = false;
};

/// Returns the text stored under [section] key of `file`, or an empty text.
QString ReadIniValue(const QString& section, const QString& key, const QString& file);

/// Stores `value` under [section] key of `file`, creating what is missing. Reports nothing;
/// returns false when the file could not be written, for callers that care.
bool WriteIniValue(const QString& section, const QString& key, const QString& value,
                   const QString& file);

} // namespace chimora
