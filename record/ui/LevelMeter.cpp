#include "record/ui/LevelMeter.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace chimora {

namespace {

// The scale runs from -60 dB to full scale, as meters for speech and music do.
constexpr double kFloorDb = -60.0;
// The bar falls this much of the scale per update when the sound gets quieter, so it does not
// flicker; the held peak stays this long before it falls to the bar.
constexpr double kFallPerUpdate = 0.05;
constexpr qint64 kHoldMs = 1500;

double toScale(float peak) {
    if (peak <= 0.0f)
        return 0.0;
    const double db = 20.0 * std::log10(double(peak));
    return std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0);
}

} // namespace

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LevelMeter::showPeak(float peak, qint64 nowMs) {
    const double level = toScale(peak);
    m_bar = std::max(level, m_bar - kFallPerUpdate);
    if (level >= m_hold || nowMs - m_holdSinceMs > kHoldMs) {
        m_hold = std::max(level, m_bar);
        m_holdSinceMs = nowMs;
    }
    update();
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, QColor(0x20, 0x26, 0x2b));
    const int barWidth = int(std::lround(m_bar * r.width()));
    // Green up to -12 dB, amber to -3 dB, red above: where a recording starts to clip.
    const int amberAt = int(r.width() * (1.0 - 12.0 / -kFloorDb));
    const int redAt = int(r.width() * (1.0 - 3.0 / -kFloorDb));
    p.fillRect(QRect(0, 0, std::min(barWidth, amberAt), r.height()), QColor(0x3c, 0xb3, 0x71));
    if (barWidth > amberAt)
        p.fillRect(QRect(amberAt, 0, std::min(barWidth, redAt) - amberAt, r.height()),
                   QColor(0xe0, 0xa8, 0x2e));
    if (barWidth > redAt)
        p.fillRect(QRect(redAt, 0, barWidth - redAt, r.height()), QColor(0xd2, 0x3f, 0x31));
    if (m_hold > 0) {
        const int x = std::min(r.width() - 2, int(std::lround(m_hold * r.width())));
        p.fillRect(QRect(x, 0, 2, r.height()), Qt::white);
    }
}

} // namespace chimora
