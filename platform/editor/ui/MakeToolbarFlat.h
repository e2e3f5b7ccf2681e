#pragma once
// The flat toolbar look shared by the program's toolbars.

#include <QList>
#include <QPixmap>

class QToolBar;

namespace chimora {

/// Gives `toolbar` its flat look (no frame or handle; buttons raise only under the mouse) and
/// its pictures: the k-th button (separators not counted) shows `normalImages[k]`, and
/// `disabledImages[k]` while it is disabled. Buttons beyond a list keep what they had.
void MakeToolbarFlat(QToolBar* toolbar, const QList<QPixmap>& normalImages,
                     const QList<QPixmap>& disabledImages);

} // namespace chimora
