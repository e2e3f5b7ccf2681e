#include "platform/editor/ui/WaveformView.h"

#include "platform/audio/ZeroCrossing.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace chimora {

namespace {

bool isLight(const QColor& c) {
    return c.lightness() > 127;
}

// Ruler steps in seconds, chosen so that labels do not crowd.
constexpr double kSecondSteps[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1,  0.2,
                                   0.5,   1,     2,     5,    10,   15,   30,   60,
                                   120,   300,   600,   900,  1800, 3600, 7200, 18000};

} // namespace

WaveformView::WaveformView(AudioDocument* document, QWidget* parent)
    : QWidget(parent), m_document(document), m_snapshot(document->snapshot()) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setBackgroundRole(QPalette::Base);
    connect(m_document, &AudioDocument::contentChanged, this, &WaveformView::onContentChanged);
    connect(m_document, &AudioDocument::selectionChanged, this, qOverload<>(&QWidget::update));
    connect(m_document, &AudioDocument::loadStarted, this, &WaveformView::onLoadStarted);
    connect(m_document, &AudioDocument::loadFinished, this, &WaveformView::onContentChanged);
}

double WaveformView::fitFramesPerPixel() const {
    const int64_t frames = m_document->frameCount();
    if (frames <= 0)
        return 1.0;
    return std::max(static_cast<double>(frames) / std::max(1, width()), minFramesPerPixel());
}

void WaveformView::setView(double startFrame, double framesPerPixel) {
    const double fit = fitFramesPerPixel();
    framesPerPixel = std::clamp(framesPerPixel, minFramesPerPixel(), fit);
    m_fitToWidth = framesPerPixel >= fit;
    const double maxStart =
        std::max(0.0, static_cast<double>(m_document->frameCount()) - width() * framesPerPixel);
    startFrame = m_fitToWidth ? 0.0 : std::clamp(startFrame, 0.0, maxStart);
    if (startFrame == m_startFrame && framesPerPixel == m_framesPerPixel)
        return;
    m_startFrame = startFrame;
    m_framesPerPixel = framesPerPixel;
    update();
    emit viewChanged();
}

bool WaveformView::zoomSteps(int steps, double anchorX) {
    const double before = m_framesPerPixel;
    const double anchorFrame = m_startFrame + anchorX * before;
    const double target =
        std::clamp(before * std::ldexp(1.0, -steps), minFramesPerPixel(), fitFramesPerPixel());
    if (target == before)
        return false;
    setView(anchorFrame - anchorX * target, target);
    return true;
}

int64_t WaveformView::frameAt(double x) const {
    const double frame = std::round(m_startFrame + x * m_framesPerPixel);
    return std::clamp(static_cast<int64_t>(frame), int64_t{0}, m_document->frameCount());
}

void WaveformView::setPlayhead(int64_t frame) {
    if (frame == m_playhead)
        return;
    m_playhead = frame;
    update();
}

void WaveformView::setTimeFormat(TimeFormat format) {
    m_timeFormat = format;
    update();
}

void WaveformView::onContentChanged() {
    m_snapshot = m_document->snapshot();
    // Keep the whole audio in view while it grows, unless the user zoomed in.
    if (m_fitToWidth)
        setView(0, fitFramesPerPixel());
    else
        setView(m_startFrame, m_framesPerPixel);
    update();
    emit viewChanged(); // the scroll range follows the length
}

void WaveformView::onLoadStarted() {
    m_fitToWidth = true;
    m_startFrame = 0;
    m_playhead = -1;
    onContentChanged();
}

void WaveformView::resizeEvent(QResizeEvent*) {
    if (m_fitToWidth)
        setView(0, fitFramesPerPixel());
    else
        setView(m_startFrame, m_framesPerPixel);
    emit viewChanged();
}

bool WaveformView::isNearSelectionEdge(double x) const {
    const Selection sel = m_document->selection();
    if (sel.isEmpty())
        return false;
    return std::abs(xOf(sel.start) - x) <= kEdgeGrabPixels ||
           std::abs(xOf(sel.end) - x) <= kEdgeGrabPixels;
}

int64_t WaveformView::placeEdge(int64_t frame) const {
    if (!m_snapToZeroCrossings)
        return frame;
    return nearestZeroCrossing(*m_snapshot, frame,
                               zeroCrossingReachFrames(m_snapshot->format().sampleRate));
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_document->frameCount() == 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    const double x = event->position().x();
    const int64_t frame = frameAt(x);
    const Selection sel = m_document->selection();
    m_pressX = x;
    m_dragging = true;
    m_dragMoved = false;
    if (event->modifiers() & Qt::ShiftModifier) {
        // Extend from the far edge of the selection (or from the cursor) to the click.
        if (sel.isEmpty())
            m_anchorFrame = m_document->cursor();
        else
            m_anchorFrame =
                std::abs(frame - sel.start) > std::abs(frame - sel.end) ? sel.start : sel.end;
        m_dragMoved = true;
        m_document->setSelection(m_anchorFrame, placeEdge(frame));
    } else if (isNearSelectionEdge(x)) {
        // Grab the nearer edge; the other one stays put.
        const bool startIsNearer = std::abs(xOf(sel.start) - x) <= std::abs(xOf(sel.end) - x);
        m_anchorFrame = startIsNearer ? sel.end : sel.start;
        m_dragMoved = true;
    } else {
        m_anchorFrame = frame;
        m_document->setCursor(frame);
    }
    event->accept();
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    const double x = event->position().x();
    if (!m_dragging) {
        setCursor(isNearSelectionEdge(x) ? Qt::SizeHorCursor : Qt::IBeamCursor);
        return;
    }
    if (!m_dragMoved && std::abs(x - m_pressX) < 3)
        return; // a shaky click is still a click
    m_dragMoved = true;
    // Dragging past either side scrolls the view along.
    if (x < 0 || x > width()) {
        const double overshoot = x < 0 ? x : x - width();
        scrollToFrame(m_startFrame + overshoot * m_framesPerPixel);
    }
    const int64_t frame = placeEdge(frameAt(x));
    const int64_t anchor = placeEdge(m_anchorFrame);
    if (frame == anchor)
        m_document->setCursor(m_anchorFrame);
    else
        m_document->setSelection(anchor, frame);
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
}

void WaveformView::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click selects everything, as in text.
    if (event->button() == Qt::LeftButton && m_document->frameCount() > 0)
        m_document->setSelection(0, m_document->frameCount());
}

void WaveformView::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    const int amount = delta.y() != 0 ? delta.y() : delta.x();
    if (event->modifiers() & Qt::ControlModifier) {
        // One notch (120) per factor of two; touchpads send smaller parts that add up.
        m_wheelZoomRemainder += amount;
        const int steps = m_wheelZoomRemainder / 120;
        m_wheelZoomRemainder -= steps * 120;
        if (steps != 0)
            zoomSteps(steps, event->position().x());
    } else {
        // One notch scrolls an eighth of the view; wheel down moves forward in time.
        scrollToFrame(m_startFrame - amount / 120.0 * visibleFrames() / 8.0);
    }
    event->accept();
}

void WaveformView::ensureVisible(int64_t frame) {
    const double x = xOf(static_cast<double>(frame));
    if (x < 0)
        scrollToFrame(static_cast<double>(frame));
    else if (x >= width())
        scrollToFrame(frame - (width() - 1) * m_framesPerPixel);
}

void WaveformView::keyPressEvent(QKeyEvent* event) {
    // Moving the cursor from the keyboard, as in text: arrows by a pixel column (Ctrl: by a
    // view's width), Home and End to the ends; with Shift the selection follows.
    const int64_t frames = m_document->frameCount();
    const int key = event->key();
    if ((key == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        // The other usual key for a context menu, beside the Menu key Qt already handles.
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, rect().center(),
                               mapToGlobal(rect().center()));
        QApplication::sendEvent(this, &menu);
        event->accept();
        return;
    }
    if (frames == 0 || (key != Qt::Key_Left && key != Qt::Key_Right && key != Qt::Key_Home &&
                        key != Qt::Key_End)) {
        QWidget::keyPressEvent(event);
        return;
    }
    const Selection sel = m_document->selection();
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    if (sel.isEmpty()) {
        m_keyAnchor = m_keyHead = extend ? placeEdge(m_document->cursor()) : m_document->cursor();
    } else if (Selection{std::min(m_keyAnchor, m_keyHead), std::max(m_keyAnchor, m_keyHead)} !=
               sel) {
        m_keyAnchor = sel.start; // a selection made some other way grows at its end
        m_keyHead = sel.end;
    }
    const int64_t step = event->modifiers() & Qt::ControlModifier
                             ? std::max<int64_t>(1, std::llround(visibleFrames()))
                             : std::max<int64_t>(1, std::llround(m_framesPerPixel));
    // Without Shift, an arrow first collapses a selection to the side it points to.
    int64_t from = m_keyHead;
    if (!extend && !sel.isEmpty())
        from = key == Qt::Key_Left ? sel.start : sel.end;
    int64_t to = from;
    switch (key) {
    case Qt::Key_Left:
        to = from - ((!extend && !sel.isEmpty()) ? 0 : step);
        break;
    case Qt::Key_Right:
        to = from + ((!extend && !sel.isEmpty()) ? 0 : step);
        break;
    case Qt::Key_Home:
        to = 0;
        break;
    default:
        to = frames;
        break;
    }
    to = std::clamp<int64_t>(to, 0, frames);
    // A snapped edge must still move: at deep zoom a step is shorter than the reach, and
    // snapping it back to where it was would leave it stuck.
    if (extend) {
        const int64_t snapped = placeEdge(to);
        if (snapped != m_keyHead && (snapped - m_keyHead > 0) == (to - m_keyHead > 0))
            to = snapped;
    }
    if (extend && to != m_keyAnchor) {
        m_keyHead = to;
        m_document->setSelection(m_keyAnchor, to);
    } else {
        m_keyAnchor = m_keyHead = to;
        m_document->setCursor(to);
    }
    ensureVisible(to);
    event->accept();
}

void WaveformView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void WaveformView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

QString WaveformView::message() const {
    const QString error = m_document->loadError();
    if (!error.isEmpty())
        return error;
    if (m_document->isLoading())
        return tr("Opening %1…").arg(QFileInfo(m_document->path()).fileName());
    return tr("Open an audio file to see it here");
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette pal = palette();
    const QColor base = pal.color(QPalette::Base);
    const QColor text = pal.color(QPalette::Text);
    p.fillRect(rect(), base);

    const QRect waveArea(0, kRulerHeight, width(), height() - kRulerHeight);
    const AudioSnapshot& snap = *m_snapshot;
    const int64_t frames = snap.frames();
    const AudioFormat format = snap.format();

    paintRuler(p, format.sampleRate);

    if (frames <= 0 || !format.isValid()) {
        p.setPen(m_document->loadError().isEmpty() ? pal.color(QPalette::PlaceholderText) : text);
        p.drawText(waveArea.adjusted(12, 8, -12, -8), Qt::AlignCenter | Qt::TextWordWrap,
                   message());
    } else {
        // Selection first, so the waveform stays readable on top of it.
        const Selection sel = m_document->selection();
        if (!sel.isEmpty()) {
            QColor highlight = pal.color(QPalette::Highlight);
            highlight.setAlpha(80);
            const double x0 = std::max(-1.0, xOf(sel.start));
            const double x1 = std::min(width() + 1.0, xOf(sel.end));
            if (x1 > x0)
                p.fillRect(QRectF(x0, 0, std::max(1.0, x1 - x0), height()), highlight);
        }
        const QColor wave = isLight(base) ? QColor(0x26, 0x3a, 0x4d) : QColor(0xcf, 0xdb, 0xe6);
        const int lanes = format.channels;
        for (int ch = 0; ch < lanes; ++ch) {
            const int top = waveArea.top() + waveArea.height() * ch / lanes;
            const int bottom = waveArea.top() + waveArea.height() * (ch + 1) / lanes;
            const QRect lane(0, top, width(), bottom - top);
            if (ch > 0) {
                p.setPen(pal.color(QPalette::Mid));
                p.drawLine(0, top, width(), top);
            }
            paintChannel(p, snap, ch, lane.adjusted(0, 2, 0, -2), wave);
        }

        // End of the audio, when it ends inside the view.
        const double endX = xOf(static_cast<double>(frames));
        if (endX < width())
            p.fillRect(QRectF(endX + 1, kRulerHeight, width() - endX, waveArea.height()),
                       pal.color(QPalette::Window));

        if (sel.isEmpty()) {
            const double x = std::floor(xOf(m_document->cursor())) + 0.5;
            p.setPen(QPen(text, 1));
            p.drawLine(QPointF(x, kRulerHeight), QPointF(x, height()));
        } else {
            p.setPen(QPen(pal.color(QPalette::Highlight), 1));
            for (const int64_t edge : {sel.start, sel.end}) {
                const double x = std::floor(xOf(edge)) + 0.5;
                p.drawLine(QPointF(x, 0), QPointF(x, height()));
            }
        }
        if (m_playhead >= 0) {
            const double x = std::floor(xOf(m_playhead)) + 0.5;
            p.setPen(QPen(QColor(0xe0, 0x6c, 0x1a), 2));
            p.drawLine(QPointF(x, 0), QPointF(x, height()));
        }
    }

    if (hasFocus()) {
        p.setPen(QPen(pal.color(QPalette::Highlight), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}

void WaveformView::paintRuler(QPainter& p, int sampleRate) const {
    const QPalette pal = palette();
    const QRect ruler(0, 0, width(), kRulerHeight);
    p.fillRect(ruler, pal.color(QPalette::Window));
    p.setPen(pal.color(QPalette::Mid));
    p.drawLine(0, kRulerHeight - 1, width(), kRulerHeight - 1);
    if (sampleRate <= 0 || m_document->frameCount() <= 0)
        return;

    // Label step: the smallest "nice" step that leaves room for a label.
    const double minLabelPixels = p.fontMetrics().horizontalAdvance(QStringLiteral("00:00.000_"));
    const double minStepFrames = minLabelPixels * m_framesPerPixel;
    double stepFrames = 0;
    if (m_timeFormat == TimeFormat::Frames) {
        for (double decade = 1; stepFrames == 0; decade *= 10)
            for (const double m : {1.0, 2.0, 5.0})
                if (stepFrames == 0 && m * decade >= minStepFrames)
                    stepFrames = m * decade;
    } else {
        for (const double s : kSecondSteps)
            if (stepFrames == 0 && s * sampleRate >= minStepFrames)
                stepFrames = s * sampleRate;
        if (stepFrames == 0)
            stepFrames = std::ceil(minStepFrames / (3600.0 * sampleRate)) * 3600.0 * sampleRate;
    }

    const double minorFrames = stepFrames / 5;
    const bool drawMinor = minorFrames / m_framesPerPixel >= 6;
    const double endFrame = m_startFrame + width() * m_framesPerPixel;
    const double first = std::floor(m_startFrame / minorFrames) * minorFrames;
    p.setPen(pal.color(QPalette::WindowText));
    for (double f = first; f <= endFrame; f += minorFrames) {
        const long long index = std::llround(f / minorFrames);
        const bool major = index % 5 == 0;
        if (!major && !drawMinor)
            continue;
        const double x = std::floor(xOf(f)) + 0.5;
        p.drawLine(QPointF(x, kRulerHeight - (major ? 9 : 4)), QPointF(x, kRulerHeight - 1));
        if (major)
            p.drawText(QPointF(x + 3, kRulerHeight - 9),
                       formatTime(std::llround(f), sampleRate, m_timeFormat));
    }
}

void WaveformView::paintChannel(QPainter& p, const AudioSnapshot& snap, int channel,
                                const QRect& lane, const QColor& color) {
    const double mid = lane.top() + lane.height() / 2.0;
    const double scale = lane.height() / 2.0 / 32768.0;
    QColor axis = color;
    axis.setAlpha(70);
    p.setPen(axis);
    p.drawLine(QPointF(0, mid), QPointF(width(), mid));

    const int64_t frames = snap.frames();
    if (m_framesPerPixel >= 1.0) {
        // One min/max pair per pixel column.
        const int columns = std::clamp(
            static_cast<int>(std::ceil((frames - m_startFrame) / m_framesPerPixel)), 0, width());
        m_peaks.resize(columns);
        snap.peaks(channel, m_startFrame, m_framesPerPixel, columns, m_peaks.data());
        m_rects.clear();
        for (int x = 0; x < columns; ++x) {
            const int top = static_cast<int>(std::floor(mid - m_peaks[x].max * scale));
            const int bottom = static_cast<int>(std::floor(mid - m_peaks[x].min * scale));
            // At least one pixel tall, so silence still shows as a line. Whole-pixel rectangles
            // fill as plain spans, which is the cheapest thing the raster engine draws.
            m_rects.emplace_back(x, top, 1, std::max(1, bottom - top + 1));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRects(m_rects.data(), static_cast<int>(m_rects.size()));
        p.setBrush(Qt::NoBrush);
        return;
    }

    // Fewer frames than pixels: each sample is a point, joined by lines.
    const int64_t first = static_cast<int64_t>(std::floor(m_startFrame));
    const int64_t count = std::min<int64_t>(
        static_cast<int64_t>(std::ceil(width() * m_framesPerPixel)) + 2, frames - first);
    if (count <= 0)
        return;
    m_peaks.resize(count);
    snap.peaks(channel, static_cast<double>(first), 1.0, static_cast<int>(count), m_peaks.data());
    m_points.clear();
    for (int64_t i = 0; i < count; ++i)
        m_points.emplace_back(xOf(static_cast<double>(first + i)), mid - m_peaks[i].max * scale);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(color, 1.2));
    p.drawPolyline(m_points.data(), static_cast<int>(m_points.size()));
    if (1.0 / m_framesPerPixel >= 6) {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        for (const QPointF& pt : m_points)
            p.drawEllipse(pt, 2.2, 2.2);
        p.setBrush(Qt::NoBrush);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
}

} // namespace chimora
