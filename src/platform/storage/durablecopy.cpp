#include "platform/storage/durablecopy.h"

#include "platform/storage/systemreason.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

QString reasonOf(int error)
{
    return SystemReason::text(error);
}

int openRetrying(const QByteArray &path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path.constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    [[nodiscard]] int get() const { return m_fd; }
    // Closing can report a late write error (e.g. on network or FUSE file
    // systems), so the copy closes explicitly and looks at the result.
    [[nodiscard]] int close()
    {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

enum class Path { CopyFileRange, SendFile, ReadWrite };

// Errors that only mean "this fast path does not apply here", as long as nothing
// was copied through it yet.
bool fastPathUnavailable(int error)
{
    return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL
        || error == EPERM || error == EBADF || error == ETXTBSY;
}

// Writes the whole buffer, going on after short writes.
bool writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

DurableCopy::Result DurableCopy::copy(const QString &source, const QString &destination,
                                      const Progress &progress, const std::atomic_bool *abort)
{
    const QByteArray sourceName = QFile::encodeName(source);
    const QByteArray destinationName = QFile::encodeName(destination);

    Fd in(openRetrying(sourceName, O_RDONLY));
    if (in.get() < 0)
        return {Outcome::Failed, reasonOf(errno)};
    struct stat sourceStat {};
    if (::fstat(in.get(), &sourceStat) != 0)
        return {Outcome::Failed, reasonOf(errno)};
    if (!S_ISREG(sourceStat.st_mode))
        return {Outcome::Failed, reasonOf(S_ISDIR(sourceStat.st_mode) ? EISDIR : EINVAL)};

    // Opening the destination truncates it: if it is the source itself (the same
    // path, a hard link, or a symbolic link to it) the song would be destroyed.
    struct stat existing {};
    if (::stat(destinationName.constData(), &existing) == 0 && existing.st_dev == sourceStat.st_dev
        && existing.st_ino == sourceStat.st_ino)
        return {Outcome::Failed, reasonOf(EEXIST)};

    // A symbolic link standing under the export name is replaced by the copy,
    // never followed: writing through it would put the song somewhere else.
    struct stat link {};
    if (::lstat(destinationName.constData(), &link) == 0 && S_ISLNK(link.st_mode)
        && ::unlink(destinationName.constData()) != 0)
        return {Outcome::Failed, reasonOf(errno)};

    Fd out(openRetrying(destinationName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666));
    if (out.get() < 0)
        return {Outcome::Failed, reasonOf(errno)};

    const auto fail = [&](Outcome outcome, int error) -> Result {
        ::unlink(destinationName.constData());
        return {outcome, outcome == Outcome::Failed ? reasonOf(error) : QString()};
    };

    Path path = Path::CopyFileRange;
    std::vector<char> buffer;
    qint64 copied = 0;
    for (;;) {
        if (abort && abort->load(std::memory_order_relaxed))
            return fail(Outcome::Aborted, 0);

        ssize_t n = 0;
        if (path == Path::CopyFileRange) {
            n = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, size_t(ChunkBytes), 0);
            if (n < 0 && copied == 0 && fastPathUnavailable(errno)) {
                path = Path::SendFile;
                continue;
            }
            // Some file systems answer 0 at once instead of an error although
            // the file has data; the plain paths find out what is really there.
            if (n == 0 && copied == 0 && sourceStat.st_size > 0) {
                path = Path::SendFile;
                continue;
            }
        } else if (path == Path::SendFile) {
            n = ::sendfile(out.get(), in.get(), nullptr, size_t(ChunkBytes));
            if (n < 0 && copied == 0 && fastPathUnavailable(errno)) {
                path = Path::ReadWrite;
                continue;
            }
        } else {
            if (buffer.empty())
                buffer.resize(size_t(1024 * 1024));
            n = ::read(in.get(), buffer.data(), buffer.size());
            if (n > 0 && !writeAll(out.get(), buffer.data(), n))
                return fail(Outcome::Failed, errno);
        }

        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(Outcome::Failed, errno);
        }
        if (n == 0)
            break;
        // Start writing this chunk to the device now, while the next one is
        // read, so that the flush at the end has little left to wait for.
        ::sync_file_range(out.get(), copied, n, SYNC_FILE_RANGE_WRITE);
        copied += n;
        if (progress)
            progress(n);
    }

    if (::fsync(out.get()) != 0)
        return fail(Outcome::Failed, errno);
    if (out.close() != 0)
        return fail(Outcome::Failed, errno);
    return {Outcome::Copied, {}};
}

QString DurableCopy::syncFolder(const QString &folder)
{
    Fd dir(openRetrying(QFile::encodeName(folder), O_RDONLY | O_DIRECTORY));
    if (dir.get() < 0)
        return reasonOf(errno);
    // Some file systems cannot flush a folder on its own (EINVAL); their
    // entries were written with the files' own flushes.
    if (::fsync(dir.get()) != 0 && errno != EINVAL)
        return reasonOf(errno);
    return {};
}
