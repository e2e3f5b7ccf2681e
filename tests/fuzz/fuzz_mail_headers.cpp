// Fuzzes the mail address checks and header building with user text. Invariants beyond "no
// crash": no header value holds a CR or LF other than folding (CRLF followed by a blank), nor
// any other control character; every recipient text is either resolved to a valid address
// (whose header value carries it) or refused.

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto mailbox = parseMailbox(text)) {
        check(isValidAddress(mailbox->address), "a resolved recipient has a valid address");
        const QByteArray value = mailboxHeaderValue(*mailbox);
        checkHeaderValue(value);
        check(value.contains("<" + mailbox->address.toLatin1() + ">"),
              "the header carries the resolved address");
    }
    checkHeaderValue(unstructuredHeaderValue(text, 9)); // "Subject: "
    checkHeaderValue(attachmentDisposition(text));
    checkHeaderValue(mailboxHeaderValue(Mailbox{text, QStringLiteral("someone@example.com")}));
    return 0;
}
