#include "platform/core/IniFile.h"

#include "platform/core/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace chimora {

namespace {

bool isSectionHeader(const QString& trimmed, QString* name) {
    if (!trimmed.startsWith(QLatin1Char('[')))
        return false;
    const int close = trimmed.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    *name = trimmed.mid(1, close - 1).trimmed();
    return true;
}

QString escapeValue(const QString& value) {
    QString out;
    out.reserve(value.size() + 8);
    out += QLatin1Char('"');
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        default:
            out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

// Inverse of escapeValue for the text between the quotes: decoded only when every backslash
// starts one of our escapes and there is no bare quote; anything else stands as it is.
QString unescapeIfEncoded(const QString& inner) {
    if (!inner.contains(QLatin1Char('\\')))
        return inner;
    QString out;
    out.reserve(inner.size());
    for (int i = 0; i < inner.size(); ++i) {
        const QChar c = inner.at(i);
        if (c == QLatin1Char('"'))
            return inner;
        if (c != QLatin1Char('\\')) {
            out += c;
            continue;
        }
        if (++i >= inner.size())
            return inner;
        switch (inner.at(i).unicode()) {
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        case '"':
            out += QLatin1Char('"');
            break;
        default:
            return inner;
        }
    }
    return out;
}

// What a value stored as `raw` reads back as, before the length cut.
QString decodeValue(const QString& raw) {
    QString value = raw.trimmed();
    if (value.size() >= 2) {
        const QChar first = value.front(), last = value.back();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && first == last) {
            value = value.mid(1, value.size() - 2);
            if (first == QLatin1Char('"'))
                value = unescapeIfEncoded(value);
        }
    }
    return value;
}

// How a value is stored: as it is whenever it reads back unchanged (every ordinary one-line
// text), else quoted with escapes (line breaks, surrounding blanks or quotes, quoted text
// that would otherwise be taken for escapes).
QString encodeValue(const QString& value) {
    const bool oneLine = !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r'));
    if (oneLine && decodeValue(value) == value)
        return value;
    return escapeValue(value);
}

QString cutToMaxLength(const QString& text) {
    if (text.size() <= IniFile::MaxValueLength)
        return text;
    // Count characters, not UTF-16 units: never split a surrogate pair.
    int chars = 0, i = 0;
    while (i < text.size() && chars < IniFile::MaxValueLength) {
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        ++chars;
    }
    return text.left(i);
}

QString readValue(const QString& raw) {
    return cutToMaxLength(decodeValue(raw));
}

} // namespace

IniFile::IniFile(const QString& path) : m_path(path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return;
    m_wasRead = true;
    // CR, LF and CRLF each end a line; every line keeps its own ending for the save.
    bool sawEnding = false;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes.at(end) != '\n' && bytes.at(end) != '\r')
            ++end;
        Line line{bytes.mid(start, end - start), {}};
        if (end < bytes.size()) {
            const bool crlf =
                bytes.at(end) == '\r' && end + 1 < bytes.size() && bytes.at(end + 1) == '\n';
            line.ending = bytes.mid(end, crlf ? 2 : 1);
            if (!sawEnding)
                m_newline = line.ending;
            sawEnding = true;
        }
        start = end + line.ending.size();
        m_lines.push_back(std::move(line));
    }
}

QString IniFile::text(int line) const {
    // UTF-8 where the bytes are valid UTF-8; otherwise they were written in a one-byte
    // encoding, read as Latin-1 so that no byte is lost.
    const QByteArray& bytes = m_lines.at(size_t(line)).text;
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : decoded;
}

int IniFile::lineCount() const {
    return int(m_lines.size());
}

void IniFile::insertLine(int at, const QString& text) {
    // The line before a new last line needs an ending of its own.
    if (at > 0 && at == lineCount() && m_lines.back().ending.isEmpty())
        m_lines.back().ending = m_newline;
    m_lines.insert(m_lines.begin() + at, Line{text.toUtf8(), m_newline});
}

int IniFile::findSection(const QString& section) const {
    for (int i = 0; i < lineCount(); ++i) {
        QString name;
        if (isSectionHeader(text(i).trimmed(), &name) &&
            name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int IniFile::findKey(int sectionLine, const QString& key, QString* rawValue) const {
    for (int i = sectionLine + 1; i < lineCount(); ++i) {
        const QString trimmed = text(i).trimmed();
        QString name;
        if (isSectionHeader(trimmed, &name))
            break;
        if (trimmed.startsWith(QLatin1Char(';')))
            continue;
        const int eq = trimmed.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        if (trimmed.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0) {
            if (rawValue)
                *rawValue = trimmed.mid(eq + 1);
            return i;
        }
    }
    return -1;
}

QString IniFile::value(const QString& section, const QString& key) const {
    const int sectionLine = findSection(section);
    if (sectionLine < 0)
        return {};
    QString raw;
    if (findKey(sectionLine, key, &raw) < 0)
        return {};
    return readValue(raw);
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value) {
    const QString line = key + QLatin1Char('=') + encodeValue(value);
    int sectionLine = findSection(section);
    if (sectionLine < 0) {
        insertLine(lineCount(), QLatin1Char('[') + section + QLatin1Char(']'));
        insertLine(lineCount(), line);
        return;
    }
    const int keyLine = findKey(sectionLine, key, nullptr);
    if (keyLine >= 0) {
        m_lines[size_t(keyLine)].text = line.toUtf8();
        return;
    }
    // New keys go after the section's last non-blank line, ahead of any blank lines that
    // separate it from the next section.
    int insertAt = sectionLine + 1;
    for (int i = sectionLine + 1; i < lineCount(); ++i) {
        QString name;
        const QString trimmed = text(i).trimmed();
        if (isSectionHeader(trimmed, &name))
            break;
        if (!trimmed.isEmpty())
            insertAt = i + 1;
    }
    insertLine(insertAt, line);
}

Result<void> IniFile::write() const {
    const QFileInfo info(m_path);
    const QString shown = QDir::toNativeSeparators(m_path);
    // Never replace a file we could not read: its other contents would be lost.
    if (info.exists() && !m_wasRead)
        return Error::environment(
            QStringLiteral("%1 could not be read, so it was not replaced.").arg(shown));
    // A file marked read-only stays so, even for a user (root) whom the system would let write.
    // (WriteUser is what the system would allow us, so only the mode bits count here.)
    constexpr auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (info.exists() && (!info.isWritable() || !(info.permissions() & anyWrite)))
        return Error::badInput(
            QStringLiteral("%1 is marked read-only and was left as it is.").arg(shown));
    AtomicFile file(m_path);
    if (!file.open())
        return Error::environment(
            QStringLiteral("%1 could not be written: %2").arg(shown, file.errorString()));
    QByteArray bytes;
    for (const Line& line : m_lines)
        bytes += line.text + line.ending;
    if (!file.write(bytes) || !file.commit())
        return Error::environment(
            QStringLiteral("%1 could not be written: %2").arg(shown, file.errorString()));
    return {};
}

bool IniFile::save() const {
    return write().ok();
}

QString ReadIniValue(const QString& section, const QString& key, const QString& file) {
    return IniFile(file).value(section, key);
}

bool WriteIniValue(const QString& section, const QString& key, const QString& value,
                   const QString& file) {
    IniFile ini(file);
    ini.setValue(section, key, value);
    return ini.save();
}

} // namespace chimora
