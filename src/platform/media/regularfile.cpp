#include "platform/media/regularfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

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

RegularFile::~RegularFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

RegularFile::RegularFile(RegularFile &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_size(std::exchange(other.m_size, 0))
{
}

RegularFile &RegularFile::operator=(RegularFile &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}
