#include "mail/MailHeaders.h"

#include <QLocale>
#include <QStringList>
#include <QUuid>

namespace chimora {

namespace {

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control || c == QChar(0x2028) || c == QChar(0x2029);
}

bool isAtext(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+/=?^_`{|}~-").contains(c);
}

bool isPrintableAscii(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

bool isDomainLabel(QByteArrayView label) {
    if (label.isEmpty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
        return false;
    for (const char c : label) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-'))
            return false;
    }
    return true;
}

// The longest an encoded word may be (RFC 2047), and the line length folding aims at.
constexpr qsizetype MaxEncodedWord = 75;
constexpr qsizetype FoldAt = 78;

// UTF-8 encoded words of RFC 2047 separated by blanks, each at most 75 characters and never
// splitting a character. The first word is short enough to follow `firstLineUsed` characters on
// a line of 78.
QByteArray encodedWords(const QString& text, qsizetype firstLineUsed) {
    constexpr qsizetype Overhead = 12; // "=?UTF-8?B?" and "?="
    // Base64 turns each 3 bytes into 4 characters; 4 bytes is the longest UTF-8 character.
    const auto chunkFor = [](qsizetype room) {
        return std::max<qsizetype>(4, (std::min(room, MaxEncodedWord) - Overhead) / 4 * 3);
    };
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    qsizetype start = 0;
    qsizetype chunk = chunkFor(FoldAt - firstLineUsed - 1);
    while (start < utf8.size()) {
        qsizetype end = std::min(start + chunk, utf8.size());
        while (end < utf8.size() && end > start + 1 && (uchar(utf8.at(end)) & 0xc0) == 0x80)
            --end; // back off to the start of a character
        if (!out.isEmpty())
            out += ' ';
        out += "=?UTF-8?B?" + utf8.mid(start, end - start).toBase64() + "?=";
        start = end;
        chunk = chunkFor(FoldAt - 1);
    }
    return out;
}

// True when no run of non-blanks in `text` is longer than `limit`, so folding can keep every
// line near 78 characters.
bool wordsFit(const QString& text, qsizetype limit) {
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c == QLatin1Char(' ') ? 0 : run + 1;
        if (run > limit)
            return false;
    }
    return true;
}

// The longest plain word kept as it is; a longer one is sent as encoded words, which fold.
constexpr qsizetype MaxPlainWord = 76;

QByteArray quotedString(const QString& asciiText) {
    QByteArray out = "\"";
    for (const QChar c : asciiText) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += '\\';
        out += char(c.unicode());
    }
    return out + '"';
}

} // namespace

QString withoutControlCharacters(const QString& text) {
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

bool isValidAddress(const QString& address) {
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

std::optional<Mailbox> parseMailbox(const QString& text) {
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

QByteArray unstructuredHeaderValue(const QString& text, int nameLength) {
    const QString clean = withoutControlCharacters(text);
    // "=?" in plain text would be read as the start of an encoded word.
    if (isPrintableAscii(clean) && !clean.contains(QLatin1String("=?")) &&
        wordsFit(clean, MaxPlainWord))
        return clean.toLatin1();
    return encodedWords(clean, nameLength + 1);
}

QByteArray mailboxHeaderValue(const Mailbox& mailbox) {
    const QByteArray address = '<' + mailbox.address.toLatin1() + '>';
    const QString name = withoutControlCharacters(mailbox.displayName).trimmed();
    if (name.isEmpty())
        return address;
    if (!isPrintableAscii(name) || name.contains(QLatin1String("=?")) ||
        !wordsFit(name, MaxPlainWord - 2))
        return encodedWords(name, 0) + ' ' + address;
    return quotedString(name) + ' ' + address;
}

QByteArray attachmentDisposition(const QString& fileName) {
    // A parameter longer than this is split into RFC 2231 continuations, which fold.
    constexpr qsizetype MaxSegment = 60;
    const QString clean = withoutControlCharacters(fileName);
    QByteArray out = "attachment";
    const auto addSegments = [&](const QList<QByteArray>& segments, bool extended) {
        for (qsizetype i = 0; i < segments.size(); ++i)
            out += "; filename*" + QByteArray::number(i) + (extended ? "*=" : "=") + segments[i];
    };
    if (isPrintableAscii(clean)) {
        if (clean.size() <= MaxSegment)
            return out + "; filename=" + quotedString(clean);
        QList<QByteArray> segments;
        for (qsizetype at = 0; at < clean.size(); at += MaxSegment)
            segments << quotedString(clean.mid(at, MaxSegment));
        addSegments(segments, false);
        return out;
    }
    // RFC 2231: charset, empty language, then percent-encoded UTF-8 outside attr-char, split
    // between characters' escapes.
    QList<QByteArray> segments{"UTF-8''"};
    for (const char c : clean.toUtf8()) {
        const uchar u = uchar(c);
        const bool attrChar = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                              (u >= '0' && u <= '9') || QByteArrayView("!#$&+-.^_`|~").contains(c);
        const QByteArray piece =
            attrChar ? QByteArray(1, c)
                     : '%' + QByteArray::number(u, 16).rightJustified(2, '0').toUpper();
        if (segments.last().size() + piece.size() > MaxSegment && (u & 0xc0) != 0x80)
            segments << QByteArray();
        segments.last() += piece;
    }
    if (segments.size() == 1)
        out += "; filename*=" + segments.first();
    else
        addSegments(segments, true);
    // An ASCII stand-in for older readers, shortened but keeping the extension.
    QString standIn;
    for (const QChar c : clean)
        standIn += (c.unicode() >= 0x20 && c.unicode() <= 0x7e) ? c : QLatin1Char('_');
    if (standIn.size() > MaxSegment) {
        const qsizetype dot = standIn.lastIndexOf(QLatin1Char('.'));
        const QString extension =
            dot >= 0 && standIn.size() - dot <= 10 ? standIn.mid(dot) : QString();
        standIn = standIn.left(MaxSegment - extension.size()) + extension;
    }
    // The extended name first: readers that know both take the first they find.
    return out + "; filename=" + quotedString(standIn);
}

QByteArray headerField(QByteArrayView name, const QByteArray& value) {
    QByteArray out = name.toByteArray() + ": ";
    qsizetype lineStart = 0;
    qsizetype lastBreak = -1; // in `out`: the last blank the current line may be folded at
    const auto lineLength = [&] { return out.size() - lineStart; };
    const auto foldAt = [&](qsizetype at) {
        out.insert(at, "\r\n");
        lineStart = at + 2;
        lastBreak = -1;
    };
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value.at(i);
        // A folded line must hold more than blanks: fold only before the last blank of a run.
        if (c == ' ' && i + 1 < value.size() && value.at(i + 1) != ' ' &&
            out.size() > lineStart + 1) {
            if (lineLength() > FoldAt && lastBreak > lineStart)
                foldAt(lastBreak);
            if (lineLength() > FoldAt)
                foldAt(out.size());
            else
                lastBreak = out.size();
        }
        out += c;
    }
    if (lineLength() > FoldAt && lastBreak > lineStart)
        foldAt(lastBreak);
    return out;
}

QByteArray attachmentMediaType(const QString& fileName) {
    const QString lower = fileName.toLower();
    if (lower.endsWith(QLatin1String(".mp3")))
        return "audio/mpeg";
    if (lower.endsWith(QLatin1String(".ogg")))
        return "audio/ogg";
    if (lower.endsWith(QLatin1String(".wav")))
        return "audio/wav";
    return "application/octet-stream";
}

QByteArray newMessageId(const QString& senderAddress) {
    const qsizetype at = senderAddress.lastIndexOf(QLatin1Char('@'));
    QString domain = at >= 0 ? senderAddress.mid(at + 1) : QString();
    if (!isValidAddress(QStringLiteral("x@") + domain))
        domain = QStringLiteral("chimora.invalid");
    return '<' + QUuid::createUuid().toByteArray(QUuid::Id128) + '@' + domain.toLatin1() + '>';
}

QByteArray dateHeaderValue(const QDateTime& when) {
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
