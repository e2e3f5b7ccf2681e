#include "record/RecordState.h"

#include <algorithm>

namespace chimora {

QString AnsiPtrToString(const char* text) {
    return text ? QString::fromLocal8Bit(text) : QString();
}

void setElapsed(int64_t ms) {
    ms = std::max<int64_t>(ms, 0);
    ElapsedTicks = int16_t(ms / 10 % 100);
    ElapsedSeconds = int16_t(ms / 1000 % 60);
    ElapsedMinutes = int16_t(ms / 60000 % 60);
    ElapsedHours = int16_t(ms / 3600000 % 24);
}

QString elapsedText() {
    const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return two(ElapsedHours) + QLatin1Char(':') + two(ElapsedMinutes) + QLatin1Char(':') +
           two(ElapsedSeconds) + QLatin1Char('.') + two(ElapsedTicks);
}

} // namespace chimora
