#include "platform/bass/ui/ErrorBox.h"

#include "platform/bass/Bass.h"

#include <QMessageBox>

namespace chimora {

QString audioErrorText(const QString& message, int code) {
    return message + QStringLiteral("\n\nerror code: ") + QString::number(code);
}

void ShowRecordError(const QString& message, QWidget* parent) {
    const int code = BASS_ErrorGetCode();
    // Messages carry outside words (device and file names, an encoder's own): never markup.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), audioErrorText(message, code),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace chimora
