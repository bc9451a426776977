#include "platform/media/regularfile.h"

#include <QFile>

#include <utility>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

namespace {

void closeDescriptor(int fd) { ::_close(fd); }

} // namespace

RegularFile::RegularFile(const QString &path)
{
    if (path.isEmpty())
        return;
    // Opened for reading while others keep writing, renaming or deleting it (a player or a
    // tagger may have the song open); never the named pipes, consoles or devices that a
    // path can also name (\\.\pipe\..., CON), which could block or are no songs.
    const HANDLE h = ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    BY_HANDLE_FILE_INFORMATION info {};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info)
        || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(h);
        return;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        return;
    }
    m_fd = fd;
    m_size = qint64(quint64(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
}

bool RegularFile::isRegular(const QString &path)
{
    if (path.isEmpty())
        return false;
    // Device names (CON, NUL, COM1...) have no attributes of a file on a disk.
    const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<const wchar_t *>(path.utf16()));
    return attributes != INVALID_FILE_ATTRIBUTES
        && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

qint64 RegularFile::readAt(int fd, void *target, qint64 length, qint64 offset)
{
    const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE || length < 0 || offset < 0)
        return -1;
    // An offset in the OVERLAPPED block reads at that position on a synchronous handle;
    // the file pointer it moves is used by nobody else.
    OVERLAPPED at {};
    at.Offset = DWORD(quint64(offset) & 0xffffffffu);
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD got = 0;
    const DWORD want = DWORD(qMin<qint64>(length, 1 << 30));
    if (!::ReadFile(h, target, want, &got, &at))
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return qint64(got);
}

void RegularFile::adviseSequential(int)
{
    // Windows reads ahead on its own once reads follow each other.
}

#else

namespace {

void closeDescriptor(int fd) { ::close(fd); }

} // namespace

RegularFile::RegularFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    // stat follows symlinks, so a link counts only when it ends at a regular file; a loop
    // fails with ELOOP. Checking before opening keeps FIFOs and devices from ever being
    // opened (opening a FIFO without a writer would block).
    if (name.isEmpty() || ::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    // O_NONBLOCK guards against the entry being swapped for a FIFO after the check.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return;
    // What was opened must be what was checked; anything swapped in between is refused.
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_ino != st.st_ino
        || opened.st_dev != st.st_dev) {
        ::close(fd);
        return;
    }
    m_fd = fd;
    m_size = opened.st_size;
}

bool RegularFile::isRegular(const QString &path)
{
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    return !name.isEmpty() && ::stat(name.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

qint64 RegularFile::readAt(int fd, void *target, qint64 length, qint64 offset)
{
    ssize_t got;
    do {
        got = ::pread(fd, target, std::size_t(length), off_t(offset));
    } while (got < 0 && errno == EINTR);
    return qint64(got);
}

void RegularFile::adviseSequential(int fd)
{
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

#endif

RegularFile::~RegularFile()
{
    if (m_fd >= 0)
        closeDescriptor(m_fd);
}

RegularFile::RegularFile(RegularFile &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_size(std::exchange(other.m_size, 0))
{
}

RegularFile &RegularFile::operator=(RegularFile &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            closeDescriptor(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}
