#include "platform/WavHeader.h"

#include <QtEndian>

#include <cstring>

namespace chimora {

namespace {

void putU32(char* at, uint32_t value) {
    qToLittleEndian(value, at);
}

void putU16(char* at, uint16_t value) {
    qToLittleEndian(value, at);
}

} // namespace

QByteArray wavHeader(int sampleRate, int channels, uint32_t dataBytes) {
    constexpr int kHeaderBytes = 44;
    const uint16_t blockAlign = uint16_t(channels * 2);
    QByteArray header(kHeaderBytes, '\0');
    char* p = header.data();
    memcpy(p, "RIFF", 4);
    // The RIFF size counts everything after its own field; a streaming size stays all ones
    // rather than wrapping around.
    const uint32_t riffBytes = dataBytes == kStreamingWavDataBytes || dataBytes > 0xFFFFFFFFu - 36
                                   ? kStreamingWavDataBytes
                                   : dataBytes + 36;
    putU32(p + 4, riffBytes);
    memcpy(p + 8, "WAVEfmt ", 8);
    putU32(p + 16, 16);
    putU16(p + 20, 1); // integer PCM
    putU16(p + 22, uint16_t(channels));
    putU32(p + 24, uint32_t(sampleRate));
    putU32(p + 28, uint32_t(sampleRate) * blockAlign);
    putU16(p + 32, blockAlign);
    putU16(p + 34, 16);
    memcpy(p + 36, "data", 4);
    putU32(p + 40, dataBytes);
    return header;
}

} // namespace chimora
