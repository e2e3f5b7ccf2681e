#include "render/EncoderCommands.h"

#include <array>

namespace chimora {

namespace {

constexpr std::array kSampleRates{32000, 24000, 22050, 16000, 12000, 11025, 8000};
constexpr std::array kBitrates{320, 256, 224, 192, 160, 128, 112, 96, 80, 64, 56, 48, 32, 16, 8};

template <typename List> int fromTable(const List& table, const QString& text) {
    for (int value : table)
        if (text == QString::number(value))
            return value;
    return 0;
}

template <typename List> QStringList texts(const List& table) {
    QStringList result;
    for (int value : table)
        result << QString::number(value);
    return result;
}

} // namespace

QStringList sampleRateTexts() {
    return texts(kSampleRates);
}

QStringList bitrateTexts() {
    return texts(kBitrates);
}

int sampleRateFromText(const QString& text) {
    return fromTable(kSampleRates, text);
}

int bitrateFromText(const QString& text) {
    return fromTable(kBitrates, text);
}

int channelsFromIndex(int index) {
    return index == 0 ? 1 : index == 1 ? 2 : 0;
}

EncoderCommand lameCommand(const QString& program, int channels, int bitrateKbps, int sampleRateHz,
                           int fedRateHz, const QString& outputPath) {
    QStringList args{QStringLiteral("-h"),
                     channels == 2 ? QStringLiteral("-ms") : QStringLiteral("-mm")};
    if (bitrateKbps > 0)
        args << QStringLiteral("-b") + QString::number(bitrateKbps);
    if (sampleRateHz > 0 && sampleRateHz == fedRateHz)
        args << QStringLiteral("-s") + QString::number(sampleRateHz / 1000.0, 'g', 12);
    args << QStringLiteral("-") << outputPath;
    return {program, args};
}

EncoderCommand oggencCommand(const QString& program, int channels, int bitrateKbps, int fedChannels,
                             const QString& outputPath) {
    QStringList args;
    if (bitrateKbps > 0)
        args << QStringLiteral("-b") << QString::number(bitrateKbps);
    if (channels != 2 && fedChannels == 2)
        args << QStringLiteral("--downmix");
    args << QStringLiteral("-") << QStringLiteral("-o") << outputPath;
    return {program, args};
}

} // namespace chimora
