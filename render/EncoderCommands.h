#pragma once
// Command lines of the two encoders: the classic printable form (what the program has always
// shown as its encoder command line) and the argument list that is actually run.

#include "platform/BassEncode.h"

#include <QString>
#include <QStringList>

namespace chimora {

/// The sample rates (Hz) and bitrates (kbit/s) the options page offers. A text not in the list
/// gives 0, meaning "not chosen".
/// The sample rates (Hz) and bitrates (kbit/s) the options lists offer, as their entry texts in
/// list order; the renderer recognises exactly these.
QStringList sampleRateTexts();
QStringList bitrateTexts();

int sampleRateFromText(const QString& text);
int bitrateFromText(const QString& text);

/// Channel count from the position of the channels list: 0 gives 1, 1 gives 2, anything else 0.
int channelsFromIndex(int index);

/// The MP3 command line in its printable form, e.g.
///   /opt/chimora/lame -h -ms -b160 -s22.05 - "/home/me/tone.mp3"
/// `-ms` for 2 channels, `-mm` otherwise; the rate text in kHz in its shortest form.
QString printableLameCommand(const QString& appFolder, int channels, const QString& bitrateText,
                             const QString& sampleRateText, const QString& outputPath);

/// The Ogg Vorbis command line in its printable form, e.g.
///   /opt/chimora/oggenc --bitrate160 - --raw-rate=24000 --output="/home/me/tone.ogg"
/// with `--raw-chan=1` before `--bitrate` for anything but 2 channels.
QString printableOggencCommand(const QString& appFolder, int channels, const QString& bitrateText,
                               const QString& sampleRateText, const QString& outputPath);

/// What lame is run with, reading a WAV of `fedRateHz` on its standard input and writing
/// `outputPath`: -h, -ms (2 channels) or -mm, -b with the bitrate when one is chosen, and -s
/// only when the chosen rate is the rate of the WAV being fed (lame takes -s over the header,
/// which would change the pitch otherwise).
bass::EncoderCommand lameCommand(const QString& program, int channels, int bitrateKbps,
                                 int sampleRateHz, int fedRateHz, const QString& outputPath);

/// What oggenc is run with: -b with the bitrate when one is chosen, the WAV on standard input
/// (its header gives rate and channels) and -o with the output path. A stereo WAV is mixed down
/// when a single channel (or none) is chosen.
bass::EncoderCommand oggencCommand(const QString& program, int channels, int bitrateKbps,
                                   int fedChannels, const QString& outputPath);

} // namespace chimora
