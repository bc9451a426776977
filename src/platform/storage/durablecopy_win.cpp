// The durable copy on Windows: the same promises as on Linux (files born in order under their
// final names, a bounded amount written but not yet on the device, everything flushed at the
// end, nothing half-written left behind), with the calls Windows has. Windows cannot start the
// write-back of a range and wait for it later; FlushFileBuffers writes a file's whole cache and
// waits. So the bound is kept by flushing the oldest file still in flight, which puts all of its
// pieces on the device at once.
#include "platform/storage/durablecopy.h"

#include "platform/storage/systemreason.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <fcntl.h>
#include <io.h>
#include <utility>
#include "platform/widepath.h"

#include <windows.h>

namespace {

// The file names are kept as UTF-8 in the class; Windows takes them as UTF-16.
QString pathOf(const QByteArray &name) { return QDir::toNativeSeparators(QString::fromUtf8(name)); }

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

QString reasonOf(int error) { return SystemReason::windowsText(DWORD(error)); }

class Handle
{
public:
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_h);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    [[nodiscard]] HANDLE get() const { return m_h; }
    [[nodiscard]] HANDLE release() { return std::exchange(m_h, INVALID_HANDLE_VALUE); }

private:
    HANDLE m_h;
};

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A file opened for its attributes only (no read access needed), links followed.
std::optional<BY_HANDLE_FILE_INFORMATION> infoOf(const QString &path)
{
    Handle h(::CreateFileW(widePath(path), 0, ShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info {};
    if (h.get() == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(h.get(), &info))
        return std::nullopt;
    return info;
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh
        && a.nFileIndexLow == b.nFileIndexLow;
}

bool writeAll(HANDLE h, const char *data, qint64 size)
{
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(h, data, DWORD(size), &written, nullptr))
            return false;
        data += written;
        size -= written;
    }
    return true;
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
            ::_close(file.fd);
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
            ::_close(std::exchange(f.fd, -1));
        if (!f.name.isEmpty() && !f.removed)
            ::DeleteFileW(widePath(pathOf(f.name)));
        f.removed = true;
    }
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
        // Closing the C runtime's descriptor closes the handle under it.
        if (f.fd >= 0 && ::_close(std::exchange(f.fd, -1)) != 0)
            return failure(m_nextToLand, int(ERROR_WRITE_FAULT));
        if (m_landed)
            m_landed(m_nextToLand);
        ++m_nextToLand;
    }
    return {Outcome::Copied, {}, -1};
}

DurableCopy::Result DurableCopy::waitOldest()
{
    const int file = m_inFlight.front().file;
    File &f = m_files[size_t(file)];
    if (!::FlushFileBuffers(handleOf(f.fd)))
        return failure(file, int(::GetLastError()));
    // Every piece of that file is on the device now; they are the oldest ones in flight.
    while (!m_inFlight.empty() && m_inFlight.front().file == file) {
        const qint64 length = m_inFlight.front().length;
        m_inFlight.pop_front();
        m_inFlightBytes -= length;
        f.onDevice += length;
        if (m_onDevice)
            m_onDevice(length);
    }
    return land();
}

DurableCopy::Result DurableCopy::push(int file, qint64 offset, qint64 length)
{
    File &f = m_files[size_t(file)];
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
    // Nothing is removed under the destination's name until this copy created it.
    const auto refused = [&](const QString &reason) -> Result {
        m_files.back().removed = true;
        return {Outcome::Failed, reason, index};
    };
    const QString sourcePath = QDir::toNativeSeparators(source);
    const QString destinationPath = QDir::toNativeSeparators(destination);

    Handle in(::CreateFileW(widePath(sourcePath), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (in.get() == INVALID_HANDLE_VALUE)
        return refused(reasonOf(int(::GetLastError())));
    BY_HANDLE_FILE_INFORMATION sourceInfo {};
    if (!::GetFileInformationByHandle(in.get(), &sourceInfo))
        return refused(reasonOf(int(::GetLastError())));
    if (sourceInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return refused(SystemReason::text(EISDIR));
    if (::GetFileType(in.get()) != FILE_TYPE_DISK)
        return refused(SystemReason::text(EINVAL));

    // Opening the destination empties it: if it is the source itself (the same path, a hard
    // link or a symbolic link to it) the song would be destroyed.
    if (const auto existing = infoOf(destinationPath); existing && sameFile(*existing, sourceInfo))
        return refused(reasonOf(int(ERROR_FILE_EXISTS)));
    // A symbolic link or junction standing under the export name is replaced, never followed.
    const DWORD attributes = ::GetFileAttributesW(widePath(destinationPath));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        && !((attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(widePath(destinationPath))
                                                      : ::DeleteFileW(widePath(destinationPath))))
        return refused(reasonOf(int(::GetLastError())));

    Handle out(::CreateFileW(widePath(destinationPath), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (out.get() == INVALID_HANDLE_VALUE)
        return refused(reasonOf(int(::GetLastError())));
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(out.get()), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        // The empty file just created under the export name goes again.
        ::CloseHandle(out.release());
        ::DeleteFileW(widePath(destinationPath));
        return refused(reasonOf(int(ERROR_TOO_MANY_OPEN_FILES)));
    }
    const HANDLE target = out.release();
    m_files.back().fd = fd;
    m_files.back().name = QDir::fromNativeSeparators(destinationPath).toUtf8();

    std::vector<char> buffer(static_cast<size_t>(PieceBytes));
    qint64 copied = 0;
    for (;;) {
        if (abort && abort->load(std::memory_order_relaxed))
            return failure(index, 0, Outcome::Aborted);
        DWORD n = 0;
        if (!::ReadFile(in.get(), buffer.data(), DWORD(buffer.size()), &n, nullptr))
            return failure(index, int(::GetLastError()));
        if (n == 0)
            break;
        if (!writeAll(target, buffer.data(), n))
            return failure(index, int(::GetLastError()));
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
    // Each file was flushed as a whole when it was the oldest one in flight, so all of them
    // are on the device now; what is left is the folder's entries.
    if (const QString reason = syncFolder(folder); !reason.isEmpty())
        return {Outcome::Failed, reason, -1};
    return {Outcome::Copied, {}, -1};
}

QString DurableCopy::syncFolder(const QString &folder)
{
    Handle dir(::CreateFileW(widePath(QDir::toNativeSeparators(folder)), GENERIC_READ | GENERIC_WRITE, ShareAll, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (dir.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // A folder that is gone is a failure; one that cannot be opened for writing (FAT
        // folders on some drivers, a share) has its entries written with the files' flushes.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return reasonOf(int(error));
        return {};
    }
    (void)::FlushFileBuffers(dir.get());
    return {};
}
