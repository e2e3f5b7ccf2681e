#pragma once
// Writing a file whole (settings, a ringtone, a WAV) so that it is either the old file or the
// complete new one: the bytes go to a hidden temporary file beside the target, which is synced
// to disk and renamed over the target only when complete.

#include <QFile>
#include <QString>
#include <QTemporaryFile>

namespace chimora {

/// What a symbolic link standing at the target means.
enum class LinkPolicy {
    /// The link stays and the file it leads to is replaced: files people keep, which they may
    /// have linked elsewhere (settings, a saved ringtone). A link that belongs to neither this
    /// user nor root is not followed, as the kernel does in folders others may write.
    WriteThrough,
    /// The link itself is replaced by the new file and its target never touched: the program's
    /// own files of fixed names in the application folder, where a link may have been planted.
    Replace,
};

class AtomicFile {
public:
    explicit AtomicFile(const QString& target, LinkPolicy links = LinkPolicy::WriteThrough);
    /// Removes the temporary file unless commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    /// Creates the temporary file in the target's folder (the folder of a link's target when
    /// the link is written through). False when the folder does not exist or cannot be written
    /// or the links go round in circles; errorString() says why.
    bool open();
    /// The temporary file, open for writing after open(); its path is what an outside program
    /// (an encoder) writes to in our place. Its name is short, whatever the target's length.
    QFile& file() { return m_file; }
    QString temporaryPath() const { return m_file.fileName(); }
    /// The path that is replaced: the target given, or where its links lead.
    QString target() const { return m_target; }

    /// Writes all of `bytes`; false on failure (a full disk ...).
    bool write(const char* data, qint64 bytes);
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }

    /// Syncs the temporary file to disk and renames it over the target, then syncs the folder,
    /// so that the rename survives a power cut. A file written through keeps the owner and
    /// permissions of the file it replaces, without set-user-ID, set-group-ID or sticky bits;
    /// a new file, and any file under LinkPolicy::Replace, gets those of a file created now (the
    /// process umask applied to 0666). False on failure, with the target untouched and the
    /// temporary file removed. Safe beside other threads: the process umask is only read.
    bool commit();

    /// Why the last call failed, for people (the system's words).
    QString errorString() const { return m_error; }

private:
    LinkPolicy m_links;
    QString m_target;
    QTemporaryFile m_file;
    QString m_error;
    bool m_committed = false;
};

} // namespace chimora
