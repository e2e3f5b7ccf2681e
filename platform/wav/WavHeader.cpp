#include "platform/wav/WavHeader.h"

#include <QtEndian>

namespace chimora {

namespace {
void put32(QByteArray& out, uint32_t v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}
void put16(QByteArray& out, uint16_t v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}
} // namespace

QByteArray wavHeader(int sampleRate, int channels, uint32_t dataBytes) {
    const uint16_t blockAlign = uint16_t(channels * 2);
    QByteArray h;
    h.reserve(44);
    h.append("RIFF", 4);
    put32(h, dataBytes == kWavStreamingSize || dataBytes > kWavMaxDataBytes ? kWavStreamingSize
                                                                            : dataBytes + 36);
    h.append("WAVEfmt ", 8);
    put32(h, 16);
    put16(h, 1); // PCM
    put16(h, uint16_t(channels));
    put32(h, uint32_t(sampleRate));
    put32(h, uint32_t(sampleRate) * blockAlign);
    put16(h, blockAlign);
    put16(h, 16);
    h.append("data", 4);
    put32(h, dataBytes);
    return h;
}

} // namespace chimora
