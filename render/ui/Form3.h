#pragma once
// The small progress window shown while a ringtone is rendered.

#include <QWidget>

class QLabel;
class QProgressBar;

namespace chimora {

/// A window without title bar, 304 x 71 pixels, with a status text and a bar from 0 to 100.
/// Owned by the wizard window (pass it as parent); deleting it is unloading it.
class Form3 : public QWidget {
    Q_OBJECT
public:
    explicit Form3(QWidget* owner = nullptr);

    QLabel* Label1;             // status text: "Preparing...", "Converting..."
    QProgressBar* ProgressBar1; // progress of the encoding, 0 to 100
};

} // namespace chimora
