#include "record/BassRecordDevice.h"

#include "platform/bass/BassEncode.h"
#include "platform/pulse/AudioDevices.h"
#include "platform/pulse/CaptureStream.h"
#include "record/RecordState.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace chimora {

namespace {

constexpr int kMeterTimeoutMs = 3000;
// Peak values per second: a meter that moves smoothly at more than 20 updates a second.
constexpr int kMeterRate = 40;

} // namespace

BOOL RecordingCallback(HRECORD channel, const void*, DWORD, void*) {
    return BASS_Encode_IsActive(channel) ? TRUE : FALSE;
}

BassRecordDevice::BassRecordDevice() = default;
BassRecordDevice::~BassRecordDevice() = default;

std::optional<QString> BassRecordDevice::inputName(int input) {
    const char* name = BASS_RecordGetInputName(input);
    if (!name)
        return std::nullopt;
    return AnsiPtrToString(name);
}

DWORD BassRecordDevice::inputState(int input) {
    return BASS_RecordGetInput(input);
}

bool BassRecordDevice::setInput(int input, DWORD setting) {
    return BASS_RecordSetInput(input, setting);
}

DWORD BassRecordDevice::startCapture() {
    return BASS_RecordStart(44100, 2, BASS_RECORD_PAUSE, &RecordingCallback, nullptr);
}

bool BassRecordDevice::startEncoder(DWORD channel, const EncoderCommand& command) {
    return BASS_Encode_Start(channel, command, BASS_ENCODE_AUTOFREE, nullptr, nullptr) != 0;
}

bool BassRecordDevice::play(DWORD channel) {
    return BASS_ChannelPlay(channel, FALSE);
}

bool BassRecordDevice::stop(DWORD channel) {
    return BASS_ChannelStop(channel);
}

bool BassRecordDevice::free(DWORD channel) {
    return BASS_StreamFree(channel);
}

bool BassRecordDevice::isCapturing(DWORD channel) {
    return BASS_ChannelIsActive(channel) == BASS_ACTIVE_PLAYING;
}

int64_t BassRecordDevice::capturedBytes(DWORD channel) {
    const QWORD bytes = BASS_ChannelGetPosition(channel, 0);
    return bytes == QWORD(-1) ? 0 : int64_t(bytes);
}

bool BassRecordDevice::encoderActive(DWORD channel) {
    return BASS_Encode_IsActive(channel) != 0;
}

int BassRecordDevice::lastError() {
    return BASS_ErrorGetCode();
}

EncoderOutcome BassRecordDevice::lastEncoderOutcome() {
    return bass::lastEncoderOutcome();
}

void BassRecordDevice::watchLevel(bool on) {
    m_meter.reset();
    m_peak = 0.0f;
    const AudioDevice device = AudioDevices::recording();
    if (!on || !device)
        return;
    CaptureStream::Request request;
    request.source = device.name;
    request.kind = CaptureStream::Kind::Peaks;
    request.sampleRate = kMeterRate;
    auto meter = CaptureStream::open(
        device.connection, request,
        [this](const char* data, size_t bytes) {
            float loudest = 0.0f;
            for (size_t i = 0; i + sizeof(float) <= bytes; i += sizeof(float)) {
                float v;
                std::memcpy(&v, data + i, sizeof v);
                loudest = std::max(loudest, std::abs(v));
            }
            float seen = m_peak.load();
            while (loudest > seen && !m_peak.compare_exchange_weak(seen, loudest)) {
            }
            return true;
        },
        kMeterTimeoutMs);
    if (!meter) {
        // Without a meter the recording works all the same.
        qWarning().noquote() << "level meter:" << meter.error().message << meter.error().detail;
        return;
    }
    m_meter = std::move(*meter);
}

float BassRecordDevice::takePeak() {
    return std::clamp(m_peak.exchange(0.0f), 0.0f, 1.0f);
}

} // namespace chimora
