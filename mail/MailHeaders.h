#pragma once
// Addresses and header fields of an outgoing message. Every header value built here is safe to
// put on a header line: user text can never bring a line break or another control character
// into it, so it can never add header lines of its own.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace chimora {

/// An address with an optional display name: `someone@example.com` or
/// `Some One <someone@example.com>`.
struct Mailbox {
    QString displayName;
    QString address; ///< plain ASCII local@domain
};

/// Parses a recipient or sender text (surrounding blanks ignored). None when it is not one of
/// the two forms, when the address is not local@domain.tld of ASCII characters, or when any
/// part holds a control character.
std::optional<Mailbox> parseMailbox(const QString& text);

/// True for local@domain.tld: a dot-atom local part and a domain of at least two labels of
/// letters, digits and inner hyphens.
bool isValidAddress(const QString& address);

/// `text` with each run of control characters (line breaks, tabs, other C0 and C1 codes, DEL,
/// line and paragraph separators) replaced by one blank.
QString withoutControlCharacters(const QString& text);

/// The header values below are one line: headerField folds them. Their words (runs of
/// non-blanks) are short enough for folded lines near 78 characters, except an address or a
/// Message-ID, which cannot be split.

/// The value of an unstructured header field (the subject), for a field whose name (with the
/// colon) is `nameLength` characters long. Control characters become blanks; text that is not
/// plain ASCII, or has a word too long for a line, is encoded as UTF-8 words of RFC 2047 (at
/// most 75 characters each, the first one fitting on the field's first line).
QByteArray unstructuredHeaderValue(const QString& text, int nameLength);

/// The value of an address field: `<a@b.c>`, or the display name (quoted, or RFC 2047 encoded
/// when not ASCII or when a word is too long) followed by `<a@b.c>`.
QByteArray mailboxHeaderValue(const Mailbox& mailbox);

/// The Content-Disposition value of an attachment named `fileName`: `attachment;
/// filename="..."`; when the name is not plain ASCII, its RFC 2231 `filename*` parameter
/// followed by a short ASCII stand-in for older readers. A long name is split into RFC 2231
/// continuations (`filename*0`, `filename*1`, ...).
QByteArray attachmentDisposition(const QString& fileName);

/// The header line `name: value`, folded (CRLF and a blank) before blanks so that no line is
/// longer than 78 characters where the value has a blank to fold at. Without the final CRLF.
QByteArray headerField(QByteArrayView name, const QByteArray& value);

/// The attachment's media type by its extension: audio/mpeg, audio/ogg, audio/wav, else
/// application/octet-stream.
QByteArray attachmentMediaType(const QString& fileName);

/// A new, unique Message-ID value `<random@domain>` in the domain of the sender's address.
QByteArray newMessageId(const QString& senderAddress);

/// A Date value: "Mon, 02 Jan 2006 15:04:05 +0100".
QByteArray dateHeaderValue(const QDateTime& when);

/// The example address the window's hint names.
inline constexpr const char* ExampleMailAddress = "someone@example.com";

} // namespace chimora
