// Fuzzes the settings file reader and writer. Invariants beyond "no crash": a value reads back
// at most 254 characters; a saved file keeps every line it did not change, in order and byte
// for byte, and gains at most the section header and the line of the key written; the value
// written reads back as written.

#include "platform/core/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace chimora;

namespace {

// Memory-backed where the system has it: every save syncs its file, which on a disk would
// make each run wait for it.
QString scratchFolder() {
    return QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                     : QDir::tempPath();
}

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Lines with their endings, as the file holds them (CR, LF and CRLF each end a line).
std::vector<QByteArray> linesOf(const QByteArray& bytes) {
    std::vector<QByteArray> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        if (end < bytes.size())
            end += (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ? 2 : 1;
        lines.push_back(bytes.mid(start, end - start));
        start = end;
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString path =
        scratchFolder() +
        QStringLiteral("/chimora-fuzz-settings-%1.ini").arg(QCoreApplication::applicationPid());
    const QByteArray before(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(before);
    }
    IniFile ini(path);
    for (const char* key : {"1", "5", "7", "9"}) {
        const QString value = ini.value(QStringLiteral("Main"), QLatin1String(key));
        check(value.toUcs4().size() <= IniFile::MaxValueLength,
              "a value is at most 254 characters");
    }
    const QString written = QStringLiteral("new value");
    ini.setValue(QStringLiteral("Main"), QStringLiteral("5"), written);
    if (!ini.save())
        return 0;
    QFile f(path);
    check(f.open(QIODevice::ReadOnly), "the saved file can be read");
    const QByteArray after = f.readAll();
    check(IniFile(path).value(QStringLiteral("Main"), QStringLiteral("5")) == written,
          "the value written reads back");

    // The files agree but for one stretch: at most one old line (the key's, or a last line
    // that gains its ending), and at most three new ones (that line, a section header, the key).
    const std::vector<QByteArray> old = linesOf(before), now = linesOf(after);
    size_t prefix = 0;
    while (prefix < old.size() && prefix < now.size() && old[prefix] == now[prefix])
        ++prefix;
    size_t suffix = 0;
    while (suffix < old.size() - prefix && suffix < now.size() - prefix &&
           old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    check(old.size() - prefix - suffix <= 1, "only the key's line of the old file changes");
    check(now.size() - prefix - suffix <= 3, "at most a header and the key's line are added");
    return 0;
}
