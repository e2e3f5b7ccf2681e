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

/// The value of an unstructured header field (the subject), for a field whose name (with the
/// colon) is `nameLength` characters long. Control characters become blanks; text that is not
/// plain ASCII, or is too long for one line, is encoded as UTF-8 words of RFC 2047 on folded
/// lines. Never holds a CR or LF except as folding followed by a blank.
QByteArray unstructuredHeaderValue(const QString& text, int nameLength);

/// The value of an address field: `<a@b.c>`, or the display name (quoted, or RFC 2047 encoded
/// when not ASCII) followed by `<a@b.c>`.
QByteArray mailboxHeaderValue(const Mailbox& mailbox);

/// The Content-Disposition value of an attachment named `fileName`: `attachment;
/// filename="..."`; when the name is not plain ASCII, its RFC 2231 `filename*` parameter
/// followed by an ASCII stand-in for older readers.
QByteArray attachmentDisposition(const QString& fileName);

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
