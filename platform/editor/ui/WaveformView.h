#pragma once
// The waveform of every channel under a time ruler, with the selection, the cursor and the
// playhead. Paints from the document's peak queries for the visible columns only and holds no
// audio of its own; mouse gestures set the cursor and the selection on the document.

#include "platform/audio/AudioDocument.h"
#include "platform/editor/TimeText.h"

#include <QWidget>

#include <memory>
#include <vector>

namespace chimora {

class WaveformView : public QWidget {
    Q_OBJECT
public:
    /// Deepest zoom: this many pixels per frame, so single samples show as points.
    static constexpr double kMaxPixelsPerFrame = 16.0;
    /// Height of the time ruler above the channels, in pixels.
    static constexpr int kRulerHeight = 22;
    /// How close (pixels) the pointer must be to a selection edge to grab it.
    static constexpr int kEdgeGrabPixels = 5;

    explicit WaveformView(AudioDocument* document, QWidget* parent = nullptr);

    // The visible range: frame at the left edge and frames per pixel column.
    double startFrame() const { return m_startFrame; }
    double framesPerPixel() const { return m_framesPerPixel; }
    double minFramesPerPixel() const { return 1.0 / kMaxPixelsPerFrame; }
    /// Frames per pixel that shows the whole audio across the width.
    double fitFramesPerPixel() const;
    /// True while the whole audio is shown; the zoom then follows the audio as it grows.
    bool isFitToWidth() const { return m_fitToWidth; }
    double visibleFrames() const { return width() * m_framesPerPixel; }

    /// Shows from `startFrame` at `framesPerPixel`, both clamped to the audio.
    void setView(double startFrame, double framesPerPixel);
    void scrollToFrame(double startFrame) { setView(startFrame, m_framesPerPixel); }
    /// Scrolls as little as needed to bring `frame` into view.
    void ensureVisible(int64_t frame);
    /// Zooms by 2^steps (positive steps zoom in) keeping the frame under `anchorX` in place.
    /// Returns false when already at the limit.
    bool zoomSteps(int steps, double anchorX);

    /// Nearest frame boundary to pixel column `x`, clamped to the audio.
    int64_t frameAt(double x) const;
    double xOf(double frame) const { return (frame - m_startFrame) / m_framesPerPixel; }

    /// The playhead line while playing or paused; -1 hides it.
    void setPlayhead(int64_t frame);
    int64_t playhead() const { return m_playhead; }
    void setTimeFormat(TimeFormat format);
    /// While on, the selection edges the user places with the mouse or the keyboard go to the
    /// nearest zero crossing within 10 ms.
    void setSnapToZeroCrossings(bool on) { m_snapToZeroCrossings = on; }
    bool snapsToZeroCrossings() const { return m_snapToZeroCrossings; }
    /// Text shown in place of the waveform (a hint, loading, or why the file could not be
    /// read); empty while audio is shown.
    QString message() const;
    TimeFormat timeFormat() const { return m_timeFormat; }

    QSize sizeHint() const override { return {600, 260}; }
    QSize minimumSizeHint() const override { return {120, 80}; }

signals:
    /// The visible range changed (scroll or zoom).
    void viewChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void onContentChanged();
    void onLoadStarted();
    bool isNearSelectionEdge(double x) const;
    int64_t placeEdge(int64_t frame) const;
    void paintRuler(QPainter& p, int sampleRate) const;
    void paintChannel(QPainter& p, const AudioSnapshot& snap, int channel, const QRect& lane,
                      const QColor& color);

    AudioDocument* m_document;
    std::shared_ptr<const AudioSnapshot> m_snapshot;
    double m_startFrame = 0;
    double m_framesPerPixel = 1;
    bool m_fitToWidth = true;
    int64_t m_playhead = -1;
    TimeFormat m_timeFormat = TimeFormat::MinutesSeconds;
    bool m_snapToZeroCrossings = false;

    // Mouse gesture in progress.
    bool m_dragging = false;
    bool m_dragMoved = false;
    int64_t m_anchorFrame = 0;
    double m_pressX = 0;
    int m_wheelZoomRemainder = 0;
    // The moving end of a selection made with Shift and the arrow keys.
    int64_t m_keyAnchor = 0;
    int64_t m_keyHead = 0;

    // Reused between paints so a repaint allocates nothing.
    std::vector<Peak> m_peaks;
    std::vector<QRect> m_rects;
    std::vector<QPointF> m_points;
};

} // namespace chimora
