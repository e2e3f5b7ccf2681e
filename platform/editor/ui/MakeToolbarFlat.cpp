#include "platform/editor/ui/MakeToolbarFlat.h"

#include <QAction>
#include <QIcon>
#include <QToolBar>
#include <QToolButton>

namespace chimora {

void MakeToolbarFlat(QToolBar* toolbar, const QList<QPixmap>& normalImages,
                     const QList<QPixmap>& disabledImages) {
    if (!toolbar)
        return;
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setStyleSheet(QStringLiteral("QToolBar { border: none; background: transparent; }"));
    for (QToolButton* b : toolbar->findChildren<QToolButton*>())
        b->setAutoRaise(true);

    int k = 0;
    for (QAction* action : toolbar->actions()) {
        if (action->isSeparator() || action->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (k < normalImages.size()) {
            QIcon icon(normalImages[k]);
            if (k < disabledImages.size())
                icon.addPixmap(disabledImages[k], QIcon::Disabled);
            action->setIcon(icon);
        }
        ++k;
    }
    toolbar->update();
}

} // namespace chimora
