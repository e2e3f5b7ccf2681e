#pragma once
// A horizontal peak meter: a bar for the level of the last moments and a mark that holds the
// highest peak for a while.

#include <QWidget>

namespace chimora {

class LevelMeter : public QWidget {
    Q_OBJECT
public:
    explicit LevelMeter(QWidget* parent = nullptr);

    /// The loudest sample (0..1 of full scale) since the last call; `nowMs` a steady clock.
    void showPeak(float peak, qint64 nowMs);
    /// What is drawn, 0..1 of the scale: the bar and the held peak.
    double barLevel() const { return m_bar; }
    double holdLevel() const { return m_hold; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_bar = 0;
    double m_hold = 0;
    qint64 m_holdSinceMs = 0;
};

} // namespace chimora
