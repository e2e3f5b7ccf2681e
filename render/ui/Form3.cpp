#include "render/ui/Form3.h"

#include <QLabel>
#include <QProgressBar>

namespace chimora {

Form3::Form3(QWidget* owner) : QWidget(owner, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Chimora"));
    setFixedSize(304, 71); // 4560 x 1065 twips

    Label1 = new QLabel(QStringLiteral("Wait please..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 16, 289, 17);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(8, 40, 289, 25);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    // Centred over the window that owns it.
    if (owner) {
        const QPoint centre = owner->window()->geometry().center();
        move(centre - QPoint(width() / 2, height() / 2));
    }
}

} // namespace chimora
