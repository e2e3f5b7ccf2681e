// The encoder feed against the stand-in encoder: an encoder that ends is noticed with no data
// pushed after it, and one that stops reading is stopped once the queue is full instead of
// letting it grow.

#include "TestSupport.h"

#include "platform/encoder/EncoderFeed.h"

#include <QtTest>

using namespace chimora;

class TestEncoderFeed : public QObject {
    Q_OBJECT

    static EncoderCommand fake(const QStringList& options) {
        return {testsupport::toolsFolder() + QStringLiteral("/fake_encoder"), options};
    }

private slots:
    void cleanup() { setEncoderTimeLimits(0, 0); }

    void anEncoderThatEndsIsNoticedWithoutFurtherData() {
        EncoderOutcome failure;
        // It reads the WAV header, which start() writes, and exits.
        auto feed =
            EncoderFeed::start(fake({"--fake-read=44", "--fake-exit=3"}), 44100, 2, &failure);
        QVERIFY(feed);
        QTRY_VERIFY(!feed->isActive());
        const EncoderOutcome outcome = feed->finish();
        QVERIFY2(outcome.failure.contains(QStringLiteral("exit code 3")),
                 qPrintable(outcome.failure));
    }

    void aStalledEncoderIsStoppedOnceTheQueueIsFull() {
        // Long enough that only a full queue can end it while this test runs.
        setEncoderTimeLimits(120000, 10000);
        EncoderOutcome failure;
        auto feed = EncoderFeed::start(fake({"--fake-hang"}), 44100, 2, &failure);
        QVERIFY(feed);
        const QByteArray second(44100 * 4, '\0');
        // Well past the queue and the pipe together, a second of sound at a time.
        const qint64 seconds = 3 * EncoderFeed::kMaxQueuedBytes / second.size();
        for (qint64 i = 0; i < seconds && feed->isActive(); ++i)
            feed->push(second.constData(), size_t(second.size()));
        QVERIFY(!feed->isActive());
        const EncoderOutcome outcome = feed->finish();
        QVERIFY2(outcome.failure.contains(QStringLiteral("could not keep up")),
                 qPrintable(outcome.failure));
    }
};

QTEST_GUILESS_MAIN(TestEncoderFeed)
#include "test_encoder_feed.moc"
