#include "app/ui/PictureButton.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace chimora {

PictureButton::PictureButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {
    setIconSize(QSize(48, 48));
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(caption);
}

void PictureButton::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // The panel alone; picture and caption are laid out below.
    option.text.clear();
    option.icon = QIcon();
    p.drawControl(QStyle::CE_PushButton, option);

    const int margin = 6;
    const QRect inner = rect().adjusted(margin, margin, -margin, -margin);
    const QIcon::Mode mode = !isEnabled()   ? QIcon::Disabled
                             : underMouse() ? QIcon::Active
                                            : QIcon::Normal;
    const QPixmap picture = icon().pixmap(iconSize(), devicePixelRatio(), mode);
    const int shift = isDown() ? 1 : 0;
    const QRect pictureRect(inner.left() + (inner.width() - iconSize().width()) / 2 + shift,
                            inner.top() + 4 + shift, iconSize().width(), iconSize().height());
    p.drawPixmap(pictureRect, picture);

    const QRect textRect(inner.left() + shift, pictureRect.bottom() + 4 + shift, inner.width(),
                         inner.bottom() - pictureRect.bottom() - 4);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    p.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text());
}

} // namespace chimora
