#pragma once
// The options lists' values and the argument lists the two encoders are run with.

#include "platform/encoder/StreamEncoder.h"

#include <QString>
#include <QStringList>

namespace chimora {

/// The sample rates (Hz) and bitrates (kbit/s) the options lists offer, as their entry texts in
/// list order; the renderer recognises exactly these.
QStringList sampleRateTexts();
QStringList bitrateTexts();

/// The value of an entry text; a text not in the list gives 0, meaning "not chosen".
int sampleRateFromText(const QString& text);
int bitrateFromText(const QString& text);

/// Channel count from the position of the channels list: 0 gives 1, 1 gives 2, anything else 0.
int channelsFromIndex(int index);

/// What lame is run with, reading a WAV of `fedRateHz` on its standard input and writing
/// `outputPath`: -h, -ms (2 channels) or -mm, -b with the bitrate when one is chosen, and -s
/// only when the chosen rate is the rate of the WAV being fed (lame takes -s over the header,
/// which would change the pitch otherwise).
EncoderCommand lameCommand(const QString& program, int channels, int bitrateKbps, int sampleRateHz,
                           int fedRateHz, const QString& outputPath);

/// What oggenc is run with: -b with the bitrate when one is chosen, the WAV on standard input
/// (its header gives rate and channels) and -o with the output path. A stereo WAV is mixed down
/// when a single channel (or none) is chosen.
EncoderCommand oggencCommand(const QString& program, int channels, int bitrateKbps, int fedChannels,
                             const QString& outputPath);

} // namespace chimora
