#pragma once

#include <QPushButton>

namespace chimora {

/// A square button showing its picture above its caption; a caption too long for one line
/// wraps onto a second instead of being cut. Keyboard focus, hover, pressed and disabled looks
/// come from the current style.
class PictureButton : public QPushButton {
    Q_OBJECT
public:
    PictureButton(const QString& caption, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace chimora
