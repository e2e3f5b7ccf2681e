#include "platform/editor/TimeText.h"

#include <QRegularExpression>

#include <cmath>

namespace chimora {

QString formatTime(int64_t frames, int sampleRate, TimeFormat format) {
    if (format == TimeFormat::Frames || sampleRate <= 0)
        return QString::number(frames);
    // Integer arithmetic so long files do not pick up floating-point drift.
    const int64_t ms = (frames * 1000 + sampleRate / 2) / sampleRate;
    const int64_t wholeSeconds = ms / 1000;
    const QString millis = QStringLiteral("%1").arg(ms % 1000, 3, 10, QLatin1Char('0'));
    if (format == TimeFormat::Seconds)
        return QStringLiteral("%1.%2").arg(wholeSeconds).arg(millis);
    const int64_t hours = wholeSeconds / 3600;
    const int64_t minutes = (wholeSeconds / 60) % 60;
    const QString secs = QStringLiteral("%1").arg(wholeSeconds % 60, 2, 10, QLatin1Char('0'));
    if (hours > 0)
        return QStringLiteral("%1:%2:%3.%4")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(secs, millis);
    return QStringLiteral("%1:%2.%3").arg(minutes).arg(secs, millis);
}

std::optional<int64_t> parseTime(const QString& text, int sampleRate, TimeFormat format) {
    QString t = text.trimmed();
    if (t.endsWith(QLatin1Char('s')))
        t = t.chopped(1).trimmed();
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    if (t.isEmpty())
        return std::nullopt;

    static const QRegularExpression framesPattern(QStringLiteral("^\\d{1,18}$"));
    if (format == TimeFormat::Frames || sampleRate <= 0) {
        if (!framesPattern.match(t).hasMatch())
            return std::nullopt;
        return t.toLongLong();
    }

    // [[h:]m:]s[.fraction]; minutes and seconds after a colon stay below 60.
    static const QRegularExpression timePattern(
        QStringLiteral("^(?:(?:(\\d{1,6}):)?(\\d{1,6}):)?(\\d{1,9})(?:\\.(\\d{1,9}))?$"));
    const QRegularExpressionMatch m = timePattern.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    const bool hasHours = !m.captured(1).isEmpty();
    const bool hasMinutes = !m.captured(2).isEmpty();
    const long long hours = m.captured(1).toLongLong();
    const long long minutes = m.captured(2).toLongLong();
    const long long seconds = m.captured(3).toLongLong();
    if ((hasMinutes && seconds >= 60) || (hasHours && minutes >= 60))
        return std::nullopt;
    const long double fraction =
        m.captured(4).isEmpty() ? 0.0L : (QStringLiteral("0.") + m.captured(4)).toDouble();
    const long double totalSeconds =
        static_cast<long double>(hours * 3600 + minutes * 60 + seconds) + fraction;
    return static_cast<int64_t>(std::llround(totalSeconds * sampleRate));
}

} // namespace chimora
