#include "platform/storage/durablecopy.h"

#include "platform/storage/systemreason.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

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
    [[nodiscard]] int release() { return std::exchange(m_fd, -1); }

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

int syncRange(int fd, qint64 offset, qint64 length, unsigned flags)
{
    int rc;
    do {
        rc = ::sync_file_range(fd, offset, length, flags);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

// Flushes a file that may have been closed since it was written; the kernel
// still reports a write error nobody has seen to a descriptor opened later.
int flushFile(const QByteArray &name)
{
    Fd fd(openRetrying(name, O_RDONLY | O_NOFOLLOW));
    if (fd.get() < 0)
        return errno;
    if (::fdatasync(fd.get()) != 0)
        return errno;
    return ::close(fd.release()) == 0 ? 0 : errno;
}

// The files' flushes at the end run side by side: each costs the device a cache
// flush, and the block layer merges flushes that wait together into one, where
// one after another a set of 300 short songs would wait for 300 of them.
std::vector<int> flushFiles(const std::vector<QByteArray> &names)
{
    std::vector<int> errors(names.size(), 0);
    std::atomic_size_t next{0};
    const auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < names.size();)
            errors[i] = flushFile(names[i]);
    };
    std::vector<std::thread> threads;
    const size_t count = std::min<size_t>(16, names.size());
    for (size_t t = 1; t < count; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread &t : threads)
        t.join();
    return errors;
}

} // namespace

DurableCopy::DurableCopy(OnDevice onDevice, Landed landed)
    : m_onDevice(std::move(onDevice)), m_landed(std::move(landed))
{
}

DurableCopy::~DurableCopy()
{
    for (File &file : m_files)
        if (file.fd >= 0)
            ::close(file.fd);
}

DurableCopy::Result DurableCopy::failure(int file, int error, Outcome outcome)
{
    removeFrom(file);
    return {outcome, outcome == Outcome::Failed ? reasonOf(error) : QString(), file};
}

void DurableCopy::removeFrom(int file)
{
    for (size_t i = size_t(file); i < m_files.size(); ++i) {
        File &f = m_files[i];
        if (f.fd >= 0)
            ::close(std::exchange(f.fd, -1));
        if (!f.name.isEmpty() && !f.removed)
            ::unlink(f.name.constData());
        f.removed = true;
    }
    // Pieces are waited for oldest first, so everything still in flight
    // belongs to the removed files.
    std::erase_if(m_inFlight, [file](const Piece &p) { return p.file >= file; });
    m_inFlightBytes = 0;
    for (const Piece &p : m_inFlight)
        m_inFlightBytes += p.length;
}

DurableCopy::Result DurableCopy::land()
{
    while (m_nextToLand < int(m_files.size())) {
        File &f = m_files[size_t(m_nextToLand)];
        if (f.removed || !f.complete || f.onDevice < f.written)
            break;
        // Its bytes are on the device; the final flush opens it again, so a
        // long set never runs out of descriptors. Closing can report a late
        // write error (network and FUSE file systems do).
        if (f.fd >= 0 && ::close(std::exchange(f.fd, -1)) != 0)
            return failure(m_nextToLand, errno);
        if (m_landed)
            m_landed(m_nextToLand);
        ++m_nextToLand;
    }
    return {Outcome::Copied, {}, -1};
}

DurableCopy::Result DurableCopy::waitOldest()
{
    const Piece piece = m_inFlight.front();
    File &f = m_files[size_t(piece.file)];
    // Waiting before and after also starts any page of the range that was
    // dirtied again, and reports a write error the device gave for it.
    if (const int error = syncRange(f.fd, piece.offset, piece.length,
                                    SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE
                                        | SYNC_FILE_RANGE_WAIT_AFTER))
        return failure(piece.file, error);
    m_inFlight.pop_front();
    m_inFlightBytes -= piece.length;
    f.onDevice += piece.length;
    if (m_onDevice)
        m_onDevice(piece.length);
    return land();
}

DurableCopy::Result DurableCopy::push(int file, qint64 offset, qint64 length)
{
    File &f = m_files[size_t(file)];
    if (const int error = syncRange(f.fd, offset, length, SYNC_FILE_RANGE_WRITE))
        return failure(file, error);
    f.written += length;
    m_inFlight.push_back({file, offset, length});
    m_inFlightBytes += length;
    while (m_inFlightBytes > InFlightBytes) {
        if (const Result r = waitOldest(); !r.ok())
            return r;
    }
    return {Outcome::Copied, {}, file};
}

DurableCopy::Result DurableCopy::copy(const QString &source, const QString &destination,
                                      const std::atomic_bool *abort)
{
    const int index = int(m_files.size());
    m_files.push_back({});
    // Nothing is removed under the destination's name until this copy created
    // it: a file of the same name from an earlier export stays when the source
    // cannot even be opened.
    const auto refused = [&](int error) -> Result {
        m_files.back().removed = true;
        return {Outcome::Failed, reasonOf(error), index};
    };
    const QByteArray sourceName = QFile::encodeName(source);
    const QByteArray destinationName = QFile::encodeName(destination);

    Fd in(openRetrying(sourceName, O_RDONLY));
    if (in.get() < 0)
        return refused(errno);
    struct stat sourceStat {};
    if (::fstat(in.get(), &sourceStat) != 0)
        return refused(errno);
    if (!S_ISREG(sourceStat.st_mode))
        return refused(S_ISDIR(sourceStat.st_mode) ? EISDIR : EINVAL);

    // Opening the destination truncates it: if it is the source itself (the same
    // path, a hard link, or a symbolic link to it) the song would be destroyed.
    struct stat existing {};
    if (::stat(destinationName.constData(), &existing) == 0 && existing.st_dev == sourceStat.st_dev
        && existing.st_ino == sourceStat.st_ino)
        return refused(EEXIST);

    // A symbolic link standing under the export name is replaced by the copy,
    // never followed: writing through it would put the song somewhere else.
    struct stat link {};
    if (::lstat(destinationName.constData(), &link) == 0 && S_ISLNK(link.st_mode)
        && ::unlink(destinationName.constData()) != 0)
        return refused(errno);

    const int out = openRetrying(destinationName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
    if (out < 0)
        return refused(errno);
    m_files.back().fd = out;
    m_files.back().name = destinationName;

    Path path = Path::CopyFileRange;
    std::vector<char> buffer;
    qint64 copied = 0;
    for (;;) {
        if (abort && abort->load(std::memory_order_relaxed))
            return failure(index, 0, Outcome::Aborted);

        ssize_t n = 0;
        if (path == Path::CopyFileRange) {
            n = ::copy_file_range(in.get(), nullptr, out, nullptr, size_t(PieceBytes), 0);
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
            n = ::sendfile(out, in.get(), nullptr, size_t(PieceBytes));
            if (n < 0 && copied == 0 && fastPathUnavailable(errno)) {
                path = Path::ReadWrite;
                continue;
            }
        } else {
            if (buffer.empty())
                buffer.resize(size_t(PieceBytes));
            n = ::read(in.get(), buffer.data(), buffer.size());
            if (n > 0 && !writeAll(out, buffer.data(), n))
                return failure(index, errno);
        }

        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failure(index, errno);
        }
        if (n == 0)
            break;
        const qint64 offset = copied;
        copied += n;
        if (const Result r = push(index, offset, n); !r.ok())
            return r;
    }
    m_files[size_t(index)].complete = true;
    if (const Result r = land(); !r.ok())
        return r;
    return {Outcome::Copied, {}, index};
}

DurableCopy::Result DurableCopy::finish(const QString &folder)
{
    while (!m_inFlight.empty()) {
        if (const Result r = waitOldest(); !r.ok())
            return r;
    }
    std::vector<QByteArray> names;
    for (const File &f : m_files)
        if (!f.removed && f.complete)
            names.push_back(f.name);
    const std::vector<int> errors = flushFiles(names);
    if (const auto bad = std::find_if(errors.cbegin(), errors.cend(), [](int e) { return e != 0; });
        bad != errors.cend())
        return {Outcome::Failed, reasonOf(*bad), -1};
    if (const QString reason = syncFolder(folder); !reason.isEmpty())
        return {Outcome::Failed, reason, -1};
    return {Outcome::Copied, {}, -1};
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
