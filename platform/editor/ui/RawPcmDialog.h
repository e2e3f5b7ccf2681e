#pragma once
// Asks how a headerless PCM file (.raw, .pcm) is laid out: sample rate, channels and sample
// format. The defaults are the most common layout (44100 Hz, stereo, 16-bit little-endian).

#include "platform/core/AudioFormat.h"

#include <QDialog>

class QComboBox;

namespace chimora {

class RawPcmDialog : public QDialog {
    Q_OBJECT
public:
    explicit RawPcmDialog(const QString& fileName, QWidget* parent = nullptr);
    RawPcmParams params() const;

private:
    QComboBox* m_rate;
    QComboBox* m_channels;
    QComboBox* m_sampleFormat;
};

} // namespace chimora
