#include "app/ui/WidgetMakers.h"

#include "app/ui/PictureButton.h"

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>

namespace chimora {

QPixmap renderSvg(const QString& resource, QSize size) {
    QSvgRenderer renderer(resource);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QLabel* makeLabel(QWidget* page, const char* name, const QString& text, bool bold) {
    auto* label = new QLabel(text, page);
    label->setObjectName(QString::fromLatin1(name));
    if (bold) {
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
    }
    return label;
}

PictureButton* makePictureButton(QWidget* page, const char* name, const QString& caption) {
    auto* button = new PictureButton(caption, page);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QComboBox* makeList(QWidget* page, const char* name, const QString& accessibleName) {
    auto* combo = new QComboBox(page);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(false);
    combo->setAccessibleName(accessibleName);
    return combo;
}

} // namespace chimora
