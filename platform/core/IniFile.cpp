#include "platform/core/IniFile.h"

#include "platform/core/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

namespace chimora {

namespace {

bool isSectionHeader(const QString& trimmed, QString* name)
{
    if (!trimmed.startsWith(QLatin1Char('[')))
        return false;
    const int close = trimmed.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    *name = trimmed.mid(1, close - 1).trimmed();
    return true;
}

QString escapeValue(const QString& value)
{
    QString out;
    out.reserve(value.size() + 8);
    out += QLatin1Char('"');
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\\': out += QLatin1String("\\\\"); break;
        case '"': out += QLatin1String("\\\""); break;
        default: out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

// Inverse of escapeValue for the text between the quotes: decoded only when every backslash
// starts one of our escapes and there is no bare quote; anything else stands as it is.
QString unescapeIfEncoded(const QString& inner)
{
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
        case 'n': out += QLatin1Char('\n'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case '\\': out += QLatin1Char('\\'); break;
        case '"': out += QLatin1Char('"'); break;
        default: return inner;
        }
    }
    return out;
}

// What a value stored as `raw` reads back as, before the length cut.
QString decodeValue(const QString& raw)
{
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
QString encodeValue(const QString& value)
{
    const bool oneLine = !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r'));
    if (oneLine && decodeValue(value) == value)
        return value;
    return escapeValue(value);
}

QString cutToMaxLength(const QString& text)
{
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

QString readValue(const QString& raw)
{
    return cutToMaxLength(decodeValue(raw));
}

} // namespace

IniFile::IniFile(const QString& path) : m_path(path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return;
    m_wasRead = true;
    const QString text = QString::fromUtf8(bytes);
    if (text.contains(QLatin1String("\r\n")))
        m_newline = QStringLiteral("\r\n");
    m_lines = text.split(QLatin1Char('\n'));
    for (QString& line : m_lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    // A final line break leaves one empty piece that is not a line of its own.
    if (!m_lines.isEmpty() && m_lines.back().isEmpty())
        m_lines.removeLast();
}

int IniFile::findSection(const QString& section) const
{
    for (int i = 0; i < m_lines.size(); ++i) {
        QString name;
        if (isSectionHeader(m_lines.at(i).trimmed(), &name) &&
            name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int IniFile::findKey(int sectionLine, const QString& key, QString* rawValue) const
{
    for (int i = sectionLine + 1; i < m_lines.size(); ++i) {
        const QString trimmed = m_lines.at(i).trimmed();
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

QString IniFile::value(const QString& section, const QString& key) const
{
    const int sectionLine = findSection(section);
    if (sectionLine < 0)
        return {};
    QString raw;
    if (findKey(sectionLine, key, &raw) < 0)
        return {};
    return readValue(raw);
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value)
{
    const QString line = key + QLatin1Char('=') + encodeValue(value);
    int sectionLine = findSection(section);
    if (sectionLine < 0) {
        m_lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        m_lines.append(line);
        return;
    }
    const int keyLine = findKey(sectionLine, key, nullptr);
    if (keyLine >= 0) {
        m_lines[keyLine] = line;
        return;
    }
    // New keys go after the section's last non-blank line, ahead of any blank lines that
    // separate it from the next section.
    int insertAt = sectionLine + 1;
    for (int i = sectionLine + 1; i < m_lines.size(); ++i) {
        QString name;
        const QString trimmed = m_lines.at(i).trimmed();
        if (isSectionHeader(trimmed, &name))
            break;
        if (!trimmed.isEmpty())
            insertAt = i + 1;
    }
    m_lines.insert(insertAt, line);
}

bool IniFile::save() const
{
    const QFileInfo info(m_path);
    // Never replace a file we could not read: its other contents would be lost.
    if (info.exists() && (!info.isWritable() || !m_wasRead))
        return false;
    // A file marked read-only stays so, even for a user (root) whom the system would let write.
    // (WriteUser is what the system would allow us, so only the mode bits count here.)
    constexpr auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (info.exists() && !(info.permissions() & anyWrite))
        return false;
    AtomicFile file(m_path);
    if (!file.open())
        return false;
    QByteArray bytes;
    for (const QString& line : m_lines) {
        bytes += line.toUtf8();
        bytes += m_newline.toLatin1();
    }
    return file.write(bytes) && file.commit();
}

QString ReadIniValue(const QString& section, const QString& key, const QString& file)
{
    return IniFile(file).value(section, key);
}

bool WriteIniValue(const QString& section, const QString& key, const QString& value,
                   const QString& file)
{
    IniFile ini(file);
    ini.setValue(section, key, value);
    return ini.save();
}

} // namespace chimora
