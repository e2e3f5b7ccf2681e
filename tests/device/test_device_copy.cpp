// The copy's pieces, progress and failures, through a backend that counts what it is asked to
// do and can run out of room.

#include "device/DeviceAccess.h"
#include "device_support.h"

#include <QTemporaryDir>
#include <QTest>

using namespace chimora;

namespace {

struct Counts {
    QList<uint32_t> writes; // bytes asked for, per call
    QList<DeviceHandle> closed, discarded;
};

class CountingBackend : public DeviceBackend {
public:
    CountingBackend(Counts& counts, qint64 capacity, bool closeFails)
        : m_counts(counts), m_room(capacity), m_closeFails(closeFails) {}

    int32_t CeRapiInitEx(RapiInit*) override { return 0; }
    bool CeRapiInitSignalled(RapiInit*) override { return true; }
    int32_t CeRapiUninit() override { return 0; }
    bool CeGetVersionEx(CeOsVersionInfo* info) override {
        info->szCSDVersion = "counting";
        return true;
    }
    DeviceHandle CeFindFirstFile(const QString&, CeFindData*) override {
        return InvalidDeviceHandle;
    }
    bool CeFindNextFile(DeviceHandle, CeFindData*) override { return false; }
    bool CeFindClose(DeviceHandle) override { return true; }
    DeviceHandle CeCreateFile(const QString&, uint32_t, uint32_t, uint32_t, uint32_t) override {
        return 7;
    }
    // A disk that fills up: the write that crosses the end stores what fits and fails.
    bool CeWriteFile(DeviceHandle, const char*, uint32_t bytes, uint32_t* written) override {
        m_counts.writes << bytes;
        *written = uint32_t(m_room < 0 ? bytes : qMin<qint64>(bytes, m_room));
        if (m_room >= 0)
            m_room -= *written;
        m_error = ErrorDiskFull;
        return *written == bytes;
    }
    bool CeCloseHandle(DeviceHandle file) override {
        m_counts.closed << file;
        m_error = ErrorDiskFull;
        return !m_closeFails;
    }
    bool discardFile(DeviceHandle file) override {
        m_counts.discarded << file;
        return true;
    }
    uint32_t CeGetLastError() override { return m_error; }

private:
    Counts& m_counts;
    qint64 m_room;
    bool m_closeFails;
    uint32_t m_error = 0;
};

} // namespace

class TestDeviceCopy : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void writesInPiecesAndReportsFailures_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<qint64>("capacity"); // -1: room for everything
        QTest::addColumn<bool>("closeFails");
        QTest::addColumn<QList<uint32_t>>("writes");
        QTest::addColumn<QList<double>>("progress");
        QTest::addColumn<QString>("message"); // empty: the copy succeeds
        QTest::addColumn<bool>("discarded");  // ended by discarding, not closing, the file

        using W = QList<uint32_t>;
        using P = QList<double>;
        QTest::newRow("2049 bytes") << 2049 << qint64(-1) << false << W{2048, 1}
                                    << P{2048 * 100.0 / 2049, 100} << "" << false;
        QTest::newRow("one whole piece")
            << 2048 << qint64(-1) << false << W{2048} << P{100} << "" << false;
        QTest::newRow("three pieces") << 5000 << qint64(-1) << false << W{2048, 2048, 904}
                                      << P{40.96, 81.92, 100} << "" << false;
        // The partial file goes through its handle: a name may by then be another's file.
        QTest::newRow("disk fills after 3000 bytes")
            << 5000 << qint64(3000) << false << W{2048, 2048} << P{40.96} << "Disk if Full."
            << true;
        QTest::newRow("storing at close fails")
            << 100 << qint64(-1) << true << W{100} << P{100} << "Disk if Full." << false;
    }
    void writesInPiecesAndReportsFailures() {
        QFETCH(int, size);
        QFETCH(qint64, capacity);
        QFETCH(bool, closeFails);
        QFETCH(QList<uint32_t>, writes);
        QFETCH(QList<double>, progress);
        QFETCH(QString, message);
        QFETCH(bool, discarded);

        Counts counts;
        setDeviceBackend(std::make_unique<CountingBackend>(counts, capacity, closeFails));
        const QString local = m_dir.filePath("tone.wav");
        QVERIFY(devicetest::writeFile(local, devicetest::randomBytes(size, 9)));
        QList<double> seen;
        QStringList statuses;
        const Result<void> copied = CopyFileToDevice(
            local, "\\tone.wav",
            {[&](double p) { seen << p; }, [&](const QString& s) { statuses << s; }});

        QCOMPARE(counts.writes, writes);
        QCOMPARE(seen.size(), progress.size());
        for (qsizetype i = 0; i < seen.size(); ++i)
            QVERIFY2(qAbs(seen[i] - progress[i]) < 1e-9, qPrintable(QString::number(seen[i])));
        QCOMPARE(counts.closed, discarded ? QList<DeviceHandle>{} : QList<DeviceHandle>{7});
        QCOMPARE(counts.discarded, discarded ? QList<DeviceHandle>{7} : QList<DeviceHandle>{});
        if (message.isEmpty()) {
            QVERIFY(copied.ok());
            QCOMPARE(statuses, QStringList{"Status: Transfer Completed."});
        } else {
            QVERIFY(!copied);
            QCOMPARE(copied.error().message, message);
            QVERIFY(statuses.isEmpty());
        }
    }

    void cleanupTestCase() { setDeviceBackend(nullptr); }
};

QTEST_MAIN(TestDeviceCopy)
#include "test_device_copy.moc"
