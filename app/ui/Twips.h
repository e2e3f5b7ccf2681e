#pragma once
// The wizard's geometry is designed in twips; the screen works in pixels.

#include <QWidget>

namespace chimora {

inline constexpr int TwipsPerPixel = 15;

/// Sets `w`'s geometry from twips: position relative to its parent, and size.
inline void place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
                   height / TwipsPerPixel);
}

} // namespace chimora
