#pragma once
// Helpers shared by the tests: generated audio, probing results with the real ffprobe, and
// simple signal measurements with known answers.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace testsupport {

/// Runs a program with arguments (no shell); returns its exit code, -1 when it could not run.
/// Standard output and error are appended to *output when given.
int run(const QString& program, const QStringList& args, QString* output = nullptr,
        int timeoutMs = 60000);

/// Writes `seconds` of a sine at `frequency` Hz with ffmpeg into `path`. `outputArgs` go before
/// the path (codec, container, format options). Returns false when ffmpeg failed.
bool makeTone(const QString& path, double seconds, int sampleRate, int channels,
              const QStringList& outputArgs = {}, double frequency = 440.0);

/// What ffprobe says of the first audio stream of a file.
struct Probe {
    bool ok = false;
    QString codec;
    int sampleRate = 0;
    int channels = 0;
    double durationSeconds = 0;
};
Probe probe(const QString& path);

/// Decodes a file with the ffmpeg tool to mono 16-bit samples at its own rate (the reference).
std::vector<int16_t> decodeWithFfmpeg(const QString& path, int* sampleRate = nullptr);

/// Frequency estimated from zero crossings of a (mono) signal; good to about 1 % for a clean
/// sine of a second or more.
double zeroCrossingFrequency(const int16_t* samples, size_t count, int sampleRate, int stride = 1);

/// True when the test PulseAudio daemon is reachable (PULSE_SERVER set by scripts/test).
bool havePulseServer();

/// True under continuous integration (CI=true), where every test service must be running.
bool underCi();

} // namespace testsupport

/// Skips the test when a service it needs is not running; under CI, where scripts/test starts
/// every service, fails it instead, so a broken service set-up never shows green.
#define CHIMORA_REQUIRE_SERVICE(available, what)                                                   \
    do {                                                                                           \
        if (!(available)) {                                                                        \
            if (testsupport::underCi())                                                            \
                QFAIL(                                                                             \
                    qPrintable(QStringLiteral("not running under CI: ") + QStringLiteral(what)));  \
            QSKIP(what);                                                                           \
        }                                                                                          \
    } while (false)

namespace testsupport {

/// Runs pactl against the test server and returns what it printed.
QString pactl(const QStringList& args);

/// Record streams (source outputs) of this process on the test server; other tests may record
/// on the same server meanwhile.
int recordStreamsOnServer();

/// A module loaded on the test server for one test - a null sink or a sine source of its own,
/// so that no other test running meanwhile changes its volume or takes it away - and unloaded
/// when this goes.
class ServerModule {
public:
    /// `args`: the module's name and its arguments, as `pactl load-module` takes them.
    explicit ServerModule(const QStringList& args);
    ~ServerModule();
    ServerModule(const ServerModule&) = delete;
    ServerModule& operator=(const ServerModule&) = delete;
    bool ok() const { return !m_index.isEmpty(); }

private:
    QString m_index;
};

/// `prefix` followed by this process's id: a server name no other test process uses.
QString uniqueServerName(const QString& prefix);

/// Folder of the small stand-in programs built for the process tests.
QString toolsFolder();

/// The whole content of a file; empty when it cannot be read.
QByteArray readFile(const QString& path);

} // namespace testsupport
