#pragma once
// Small setting objects the wizard reaches through the editor: the format of the next WAV it
// writes, and two integer options set once at start-up. The order of the members is part of
// the contract with the wizard (it names them by position), so keep it.

#include "platform/core/AudioFormat.h"

#include <QObject>
#include <QString>

namespace chimora {

/// Format of the next file the editor writes. 0 means "as the source" for rate and channels.
class EditorFormat : public QObject {
    Q_OBJECT
public:
    explicit EditorFormat(QObject* parent = nullptr) : QObject(parent) {}

    int sampleRate() const { return m_format.sampleRate; } // member 1
    int channels() const { return m_format.channels; }     // member 2
    /// Member 3. Rate in Hz, channels 1 or 2, bitrate in kbit/s (kept for encoders; a 16-bit
    /// WAV does not use it). Negative values count as 0 and channels above 2 as 2.
    void setFormat(int sampleRateHz, int channels, int bitrateKbps);
    int bitrateKbps() const { return m_format.bitrateKbps; }
    OutputFormat outputFormat() const { return m_format; }

private:
    OutputFormat m_format;
};

/// One integer setting of the editor, clamped to [minimum, maximum]. What a value means is
/// documented where the editor creates the option.
class EditorOption : public QObject {
    Q_OBJECT
public:
    EditorOption(QString name, int minimum, int maximum, int defaultValue,
                 QObject* parent = nullptr);

    QString name() const { return m_name; }   // member 1
    int minimum() const { return m_minimum; } // member 2
    int maximum() const { return m_maximum; } // member 3
    int value() const { return m_value; }     // member 4
    void setValue(int value);                 // member 5
    int defaultValue() const { return m_defaultValue; }

signals:
    void valueChanged(int value);

private:
    QString m_name;
    int m_minimum;
    int m_maximum;
    int m_defaultValue;
    int m_value;
};

} // namespace chimora
