#include "app/Settings.h"

#include "platform/core/IniFile.h"

#include <QFile>

#include <cctype>
#include <cfenv>
#include <cmath>
#include <limits>

namespace chimora {

QString SettingsFile;
QString SpareText;
int32_t BitrateIndex = 0;
int32_t ChannelsIndex = 0;
int32_t FormatCode = 0;
QString RingtoneName;
int32_t SampleRateIndex = 0;
QString MailAddress;
QString MailSubject;
QString MailMessage;

namespace {

const QString Section = QStringLiteral("Main");

QString key(int n) {
    return QString::number(n);
}

} // namespace

void SetDefaultSettings() {
    SpareText = QStringLiteral("test");
    BitrateIndex = 4;
    ChannelsIndex = 1;
    FormatCode = 1;
    RingtoneName = QStringLiteral("ringtone");
    SampleRateIndex = 1;
    MailAddress = QString::fromLatin1(DefaultMailAddress);
    MailSubject = QStringLiteral("Subject");
    MailMessage = QString();
}

void EnsureSettingsFile() {
    QFile file(SettingsFile);
    if (file.open(QIODevice::ReadOnly))
        return;
    SetDefaultSettings();
    // A folder that cannot be written shows itself when the wizard closes and saves again.
    (void)SaveSettings();
}

void LoadSettings() {
    const IniFile ini(SettingsFile);
    SpareText = ini.value(Section, key(1));
    BitrateIndex = LeadingNumber(ini.value(Section, key(2)), BitrateIndex);
    ChannelsIndex = LeadingNumber(ini.value(Section, key(3)), ChannelsIndex);
    FormatCode = LeadingNumber(ini.value(Section, key(4)), FormatCode);
    RingtoneName = ini.value(Section, key(5));
    SampleRateIndex = LeadingNumber(ini.value(Section, key(6)), SampleRateIndex);
    MailAddress = ini.value(Section, key(7));
    MailSubject = ini.value(Section, key(8));
    MailMessage = ini.value(Section, key(9));
}

Result<void> SaveSettings() {
    IniFile ini(SettingsFile);
    ini.setValue(Section, key(1), SpareText);
    ini.setValue(Section, key(2), QString::number(BitrateIndex));
    ini.setValue(Section, key(3), QString::number(ChannelsIndex));
    ini.setValue(Section, key(4), QString::number(FormatCode));
    ini.setValue(Section, key(5), RingtoneName);
    ini.setValue(Section, key(6), QString::number(SampleRateIndex));
    ini.setValue(Section, key(7), MailAddress);
    ini.setValue(Section, key(8), MailSubject);
    ini.setValue(Section, key(9), MailMessage);
    return ini.write();
}

int32_t LeadingNumber(const QString& text, int32_t previous) {
    QByteArray s;
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n') &&
            c != QLatin1Char('\r'))
            s += c.unicode() < 128 ? char(c.unicode()) : '?';
    }
    // Longest prefix of the form [sign] digits [. digits] [(e|E) [sign] digits].
    int i = 0;
    const int n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-'))
        ++i;
    int mantissaDigits = 0;
    while (i < n && std::isdigit(uchar(s[i]))) {
        ++i;
        ++mantissaDigits;
    }
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && std::isdigit(uchar(s[i]))) {
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return 0;
    int end = i;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        int j = i + 1;
        if (j < n && (s[j] == '+' || s[j] == '-'))
            ++j;
        int expDigits = 0;
        while (j < n && std::isdigit(uchar(s[j]))) {
            ++j;
            ++expDigits;
        }
        if (expDigits > 0)
            end = j;
    }
    // QByteArray::toDouble ignores the locale (strtod would want a comma in some).
    bool ok = false;
    const double value = s.left(end).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return previous;
    const int oldMode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(oldMode);
    if (rounded < double(std::numeric_limits<int32_t>::min()) ||
        rounded > double(std::numeric_limits<int32_t>::max()))
        return previous;
    return int32_t(rounded);
}

bool InitControlClasses() {
    // Qt registers its widget classes itself; nothing can fail here.
    return true;
}

bool CanShowPage(int) {
    return true;
}

} // namespace chimora
