#pragma once
// Writing a file people keep (settings, a ringtone, a WAV) so that it is either the old file or
// the complete new one: the bytes go to a hidden temporary file beside the target, which is
// synced to disk and renamed over the target only when complete.

#include <QFile>
#include <QString>
#include <QTemporaryFile>

namespace chimora {

class AtomicFile {
public:
    explicit AtomicFile(const QString& target);
    /// Removes the temporary file unless commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    /// Creates the temporary file in the target's folder. False when the folder does not exist
    /// or cannot be written; errorString() says why.
    bool open();
    /// The temporary file, open for writing after open(); its path is what an outside program
    /// (an encoder) writes to in our place.
    QFile& file() { return m_file; }
    QString temporaryPath() const { return m_file.fileName(); }
    QString target() const { return m_target; }

    /// Writes all of `bytes`; false on failure (a full disk ...).
    bool write(const char* data, qint64 bytes);
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }

    /// Syncs the temporary file to disk, gives it the owner and permissions of the file it
    /// replaces (or those a new file would get), renames it over the target and syncs the
    /// folder, so that the rename survives a power cut. False on failure, with the
    /// target untouched and the temporary file removed.
    bool commit();

    /// Why the last call failed, for people (the system's words).
    QString errorString() const { return m_error; }

private:
    QString m_target;
    QTemporaryFile m_file;
    QString m_error;
    bool m_committed = false;
};

} // namespace chimora
