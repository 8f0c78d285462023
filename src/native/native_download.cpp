#include "file_system_error.h"
#include "native_http.h"
#include "reply_reader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkRequest>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bytes taken from the network per step; the most a download holds in memory, whatever its size.
constexpr qint64 downloadPieceBytes = 256 * 1024;
constexpr mode_t ownerOnly = 0600; // an export holds the user's calendar: readable by its owner alone

// The body on its way to the destination: a hidden temporary file in the destination's own folder,
// so that the final move stays on one file system and is a single rename. Removed on every way out
// unless it was moved into place.
class PartialFile {
public:
    explicit PartialFile(const QString &destination)
    {
        const QFileInfo target(destination);
        m_path = QFile::encodeName(target.absolutePath() + QStringLiteral("/.download-XXXXXX"));
        m_fd = mkostemp(m_path.data(), O_CLOEXEC);
        if (m_fd < 0)
            throw FileSystemError::fromErrno(errno);
        // mkostemp creates the file as 0600 less the umask; set the mode outright so it is 0600
        // whatever the umask.
        if (fchmod(m_fd, ownerOnly) != 0) {
            const int error = errno;
            discard();
            throw FileSystemError::fromErrno(error);
        }
    }
    ~PartialFile() { discard(); }
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    void write(QByteArrayView bytes)
    {
        while (!bytes.isEmpty()) {
            const ssize_t written = ::write(m_fd, bytes.data(), size_t(bytes.size()));
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                throw FileSystemError::fromErrno(errno);
            bytes = bytes.sliced(written);
        }
    }

    // Puts the whole file on disk, then moves it to `destination` without ever replacing a file
    // that is there: the rename fails with the system's "File exists" instead.
    void moveTo(const QString &destination)
    {
        if (fsync(m_fd) != 0 || ::close(std::exchange(m_fd, -1)) != 0)
            throw FileSystemError::fromErrno(errno);
        const QByteArray target = QFile::encodeName(destination);
        if (renameat2(AT_FDCWD, m_path.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0) {
            m_path.clear();
            return;
        }
        // File systems without an exclusive rename: a hard link also fails when the name is taken,
        // and the temporary name is then removed on the way out.
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            throw FileSystemError::fromErrno(errno);
        if (link(m_path.constData(), target.constData()) != 0)
            throw FileSystemError::fromErrno(errno);
    }

private:
    void discard()
    {
        if (m_fd >= 0)
            ::close(std::exchange(m_fd, -1));
        if (!m_path.isEmpty())
            unlink(std::exchange(m_path, {}).constData());
    }

    QByteArray m_path; // encoded; empty once moved or removed
    int m_fd = -1;
};

// The local path the destination names: a file URL without a host, absolute, and naming a file
// rather than a folder.
QString localFileOf(const QUrl &destination)
{
    if (!destination.isValid() || !destination.isLocalFile() || !destination.host().isEmpty())
        throw NativeClientError::exportDestinationInvalid();
    const QString path = destination.toLocalFile();
    if (!QDir::isAbsolutePath(path) || path.endsWith(u'/'))
        throw NativeClientError::exportDestinationInvalid();
    return path;
}

} // namespace

FileSystemError FileSystemError::fromErrno(int code)
{
    return FileSystemError(qt_error_string(code));
}

QCoro::Task<> NativeHTTP::download(QString path, QUrl destination, std::stop_token stop) const
{
    const QString target = localFileOf(destination);
    const QNetworkRequest request = getRequest(path, "application/json");
    // Made before anything is sent, so a missing or read-only folder costs no traffic.
    PartialFile file(target);
    if (stop.stop_requested())
        throw CancellationError();
    ReplyReader reader(send(request), idleTimeout(), stop, downloadPieceBytes);
    co_await reader.head();
    // Decided at the head: the body of a refused answer is never read.
    if (reader.status() != 200)
        throw NativeClientError::exportFailed();
    for (;;) {
        const QByteArray piece = co_await reader.nextPiece();
        if (piece.isEmpty())
            break;
        file.write(piece);
    }
    if (stop.stop_requested())
        throw CancellationError();
    file.moveTo(target);
}
