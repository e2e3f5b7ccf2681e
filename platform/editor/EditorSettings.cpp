#include "platform/editor/EditorSettings.h"

#include <algorithm>

namespace chimora {

void EditorFormat::setFormat(int sampleRateHz, int channels, int bitrateKbps) {
    m_format.sampleRate = std::max(0, sampleRateHz);
    m_format.channels = std::clamp(channels, 0, 2);
    m_format.bitrateKbps = std::max(0, bitrateKbps);
}

EditorOption::EditorOption(QString name, int minimum, int maximum, int defaultValue,
                           QObject* parent)
    : QObject(parent), m_name(std::move(name)), m_minimum(minimum), m_maximum(maximum),
      m_defaultValue(defaultValue), m_value(defaultValue) {}

void EditorOption::setValue(int value) {
    value = std::clamp(value, m_minimum, m_maximum);
    if (value == m_value)
        return;
    m_value = value;
    emit valueChanged(value);
}

} // namespace chimora
