#include "platform/bass/ErrorBox.h"

#include "platform/bass/Bass.h"

#include <QMessageBox>

namespace chimora {

QString audioErrorText(const QString& message, int code)
{
    return message + QStringLiteral("\n\nerror code: ") + QString::number(code);
}

void ShowRecordError(const QString& message, QWidget* parent)
{
    const int code = BASS_ErrorGetCode();
    QMessageBox::warning(parent, QStringLiteral("Error"), audioErrorText(message, code));
}

} // namespace chimora
