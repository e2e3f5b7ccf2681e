// Fuzzes the mail address checks and header building with user text. Invariants beyond "no
// crash": no header value holds a CR or LF other than folding (CRLF followed by a blank), nor
// any other control character; every recipient text is either resolved to a valid address
// (whose header value carries it) or refused; a folded header line is at most 998 octets, and
// longer than 78 only where it has no blank left to fold at; an encoded word is at most 75
// characters.

#include "mail/MailHeaders.h"

#include <cstdio>
#include <cstdlib>

using namespace chimora;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

void checkHeaderValue(const QByteArray& value) {
    for (qsizetype i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c == '\r') {
            check(i + 2 < value.size() && value[i + 1] == '\n' &&
                      (value[i + 2] == ' ' || value[i + 2] == '\t'),
                  "a line break in a header value is only folding");
            i += 2;
            continue;
        }
        check(c != '\n' && (c >= 0x20 || c == '\t') && c != 0x7f,
              "no control character in a header value");
    }
}

// `field` as headerField made it. `encodedWordsOurs`: every word starting "=?" is one we
// encoded (in the subject and display names; a quoted file name may hold "=?" as it is).
void checkFolding(const QByteArray& field, bool encodedWordsOurs) {
    const qsizetype prefix = field.indexOf(": ") + 2;
    check(prefix >= 2, "a field has its name");
    qsizetype start = 0;
    while (start <= field.size()) {
        qsizetype end = field.indexOf("\r\n", start);
        if (end < 0)
            end = field.size();
        const QByteArray line = field.mid(start, end - start);
        check(line.size() <= 998, "no header line longer than 998 octets");
        // After the field's name, or the blank a folded line starts with.
        const QByteArray rest = line.mid(start == 0 ? prefix : 1);
        if (line.size() > 78) {
            for (qsizetype i = 0; i + 1 < rest.size(); ++i)
                check(!(rest[i] == ' ' && rest[i + 1] != ' '),
                      "a line over 78 characters has no blank to fold at");
        }
        if (encodedWordsOurs) {
            for (const QByteArray& word : rest.split(' '))
                check(!word.startsWith("=?") || word.size() <= 75,
                      "no encoded word longer than 75 characters");
        }
        start = end + 2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto mailbox = parseMailbox(text)) {
        check(isValidAddress(mailbox->address), "a resolved recipient has a valid address");
        const QByteArray value = mailboxHeaderValue(*mailbox);
        checkHeaderValue(value);
        check(value.contains("<" + mailbox->address.toLatin1() + ">"),
              "the header carries the resolved address");
        checkFolding(headerField("To", value), true);
    }
    const QByteArray subject = headerField("Subject", unstructuredHeaderValue(text, 8));
    checkHeaderValue(subject);
    checkFolding(subject, true);
    const QByteArray disposition = headerField("Content-Disposition", attachmentDisposition(text));
    checkHeaderValue(disposition);
    checkFolding(disposition, false);
    const QByteArray from = headerField(
        "From", mailboxHeaderValue(Mailbox{text, QStringLiteral("someone@example.com")}));
    checkHeaderValue(from);
    checkFolding(from, true);
    return 0;
}
