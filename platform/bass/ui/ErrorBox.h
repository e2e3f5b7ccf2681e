#pragma once

#include <QString>

class QWidget;

namespace chimora {

/// The audio error box: title "Error", warning icon, OK; the text is `message`, an empty line,
/// then "error code: " and the audio layer's last error code.
void ShowRecordError(const QString& message, QWidget* parent = nullptr);

/// The text of that box, for a given code.
QString audioErrorText(const QString& message, int code);

} // namespace chimora
