#include "mail/MailHeaders.h"

#include <QLocale>
#include <QStringList>
#include <QUuid>

namespace chimora {

namespace {

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control || c == QChar(0x2028) || c == QChar(0x2029);
}

bool isAtext(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+/=?^_`{|}~-").contains(c);
}

bool isPrintableAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

bool isDomainLabel(QByteArrayView label)
{
    if (label.isEmpty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
        return false;
    for (const char c : label) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-'))
            return false;
    }
    return true;
}

// UTF-8 encoded words of RFC 2047, each at most 75 characters and never splitting a character,
// joined by folding (CRLF and a blank).
QByteArray encodedWords(const QString& text)
{
    // 45 bytes give 60 base64 characters; with "=?UTF-8?B?" and "?=" that is 72.
    constexpr qsizetype MaxChunkBytes = 45;
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    qsizetype start = 0;
    while (start < utf8.size()) {
        qsizetype end = std::min(start + MaxChunkBytes, utf8.size());
        while (end < utf8.size() && end > start && (uchar(utf8.at(end)) & 0xc0) == 0x80)
            --end; // back off to the start of a character
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + utf8.mid(start, end - start).toBase64() + "?=";
        start = end;
    }
    return out;
}

QByteArray quotedString(const QString& asciiText)
{
    QByteArray out = "\"";
    for (const QChar c : asciiText) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += '\\';
        out += char(c.unicode());
    }
    return out + '"';
}

} // namespace

QString withoutControlCharacters(const QString& text)
{
    QString out;
    out.reserve(text.size());
    bool inRun = false;
    for (const QChar c : text) {
        if (isControl(c)) {
            if (!inRun)
                out += QLatin1Char(' ');
            inRun = true;
            continue;
        }
        inRun = false;
        out += c;
    }
    return out;
}

bool isValidAddress(const QString& address)
{
    if (!isPrintableAscii(address) || address.size() > 254)
        return false;
    const QByteArray bytes = address.toLatin1();
    const qsizetype at = bytes.lastIndexOf('@');
    if (at <= 0 || at > 64)
        return false;
    const QByteArrayView local = QByteArrayView(bytes).first(at);
    const QByteArrayView domain = QByteArrayView(bytes).sliced(at + 1);
    if (local.front() == '.' || local.back() == '.' || local.contains(QByteArrayView("..")))
        return false;
    for (const char c : local) {
        if (c != '.' && !isAtext(c))
            return false;
    }
    const QList<QByteArray> labels = domain.toByteArray().split('.');
    if (labels.size() < 2)
        return false;
    for (const QByteArray& label : labels) {
        if (!isDomainLabel(label))
            return false;
    }
    return true;
}

std::optional<Mailbox> parseMailbox(const QString& text)
{
    const QString trimmed = text.trimmed();
    for (const QChar c : trimmed) {
        if (isControl(c))
            return std::nullopt;
    }
    Mailbox mailbox;
    if (trimmed.endsWith(QLatin1Char('>'))) {
        const qsizetype open = trimmed.lastIndexOf(QLatin1Char('<'));
        if (open < 0)
            return std::nullopt;
        mailbox.address = trimmed.mid(open + 1, trimmed.size() - open - 2).trimmed();
        QString name = trimmed.left(open).trimmed();
        if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) &&
            name.endsWith(QLatin1Char('"'))) {
            QString unquoted;
            for (qsizetype i = 1; i + 1 < name.size(); ++i) {
                if (name.at(i) == QLatin1Char('\\') && i + 2 < name.size())
                    ++i;
                unquoted += name.at(i);
            }
            name = unquoted;
        } else if (name.contains(QLatin1Char('<')) || name.contains(QLatin1Char('>')) ||
                   name.contains(QLatin1Char('"'))) {
            return std::nullopt;
        }
        mailbox.displayName = name;
    } else {
        mailbox.address = trimmed;
    }
    if (!isValidAddress(mailbox.address))
        return std::nullopt;
    return mailbox;
}

QByteArray unstructuredHeaderValue(const QString& text, int nameLength)
{
    const QString clean = withoutControlCharacters(text);
    // RFC 5322 allows lines of 998 characters; "=?" in plain text would be read as encoding.
    if (isPrintableAscii(clean) && !clean.contains(QLatin1String("=?")) &&
        nameLength + 1 + clean.size() <= 998)
        return clean.toLatin1();
    return encodedWords(clean);
}

QByteArray mailboxHeaderValue(const Mailbox& mailbox)
{
    const QByteArray address = '<' + mailbox.address.toLatin1() + '>';
    const QString name = withoutControlCharacters(mailbox.displayName).trimmed();
    if (name.isEmpty())
        return address;
    if (!isPrintableAscii(name) || name.contains(QLatin1String("=?")))
        return encodedWords(name) + ' ' + address;
    return quotedString(name) + ' ' + address;
}

QByteArray attachmentDisposition(const QString& fileName)
{
    const QString clean = withoutControlCharacters(fileName);
    if (isPrintableAscii(clean))
        return "attachment; filename=" + quotedString(clean);
    QString standIn;
    for (const QChar c : clean)
        standIn += (c.unicode() >= 0x20 && c.unicode() <= 0x7e) ? c : QLatin1Char('_');
    // RFC 2231: charset, empty language, then percent-encoded UTF-8 outside attr-char.
    QByteArray extended = "UTF-8''";
    for (const char c : clean.toUtf8()) {
        const uchar u = uchar(c);
        const bool attrChar = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                              (u >= '0' && u <= '9') || QByteArrayView("!#$&+-.^_`|~").contains(c);
        if (attrChar)
            extended += c;
        else
            extended += '%' + QByteArray::number(u, 16).rightJustified(2, '0').toUpper();
    }
    // The extended name first: readers that know both take the first they find.
    return "attachment; filename*=" + extended + "; filename=" + quotedString(standIn);
}

QByteArray attachmentMediaType(const QString& fileName)
{
    const QString lower = fileName.toLower();
    if (lower.endsWith(QLatin1String(".mp3")))
        return "audio/mpeg";
    if (lower.endsWith(QLatin1String(".ogg")))
        return "audio/ogg";
    if (lower.endsWith(QLatin1String(".wav")))
        return "audio/wav";
    return "application/octet-stream";
}

QByteArray newMessageId(const QString& senderAddress)
{
    const qsizetype at = senderAddress.lastIndexOf(QLatin1Char('@'));
    QString domain = at >= 0 ? senderAddress.mid(at + 1) : QString();
    if (!isValidAddress(QStringLiteral("x@") + domain))
        domain = QStringLiteral("chimora.invalid");
    return '<' + QUuid::createUuid().toByteArray(QUuid::Id128) + '@' + domain.toLatin1() + '>';
}

QByteArray dateHeaderValue(const QDateTime& when)
{
    const QLocale c = QLocale::c();
    const int offsetMinutes = when.offsetFromUtc() / 60;
    const int absMinutes = std::abs(offsetMinutes);
    const QString zone = QStringLiteral("%1%2%3")
                             .arg(offsetMinutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(absMinutes / 60, 2, 10, QLatin1Char('0'))
                             .arg(absMinutes % 60, 2, 10, QLatin1Char('0'));
    return (c.toString(when, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss ")) + zone).toLatin1();
}

} // namespace chimora
