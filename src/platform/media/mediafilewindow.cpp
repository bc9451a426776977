#include "platform/media/mediafilewindow.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
constexpr qint64 WindowSize = 256 * 1024;

quint32 le32(const uchar *p) { return quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0]; }
} // namespace

MediaFileWindow::MediaFileWindow(int fd, qint64 fileSize)
    : m_fd(fd)
    , m_size(fileSize)
    // A short file needs no more room than itself; most songs are probed from a few windows.
    , m_capacity(qBound<qint64>(1, fileSize, WindowSize))
    , m_buffer(new uchar[std::size_t(m_capacity)])
{
}

const uchar *MediaFileWindow::at(qint64 offset, int length)
{
    if (offset < 0 || length < 0 || length > m_capacity || offset + length > m_size)
        return nullptr;
    if (offset >= m_base && offset + length <= m_base + m_filled)
        return m_buffer.get() + (offset - m_base);
    m_base = offset;
    m_filled = 0;
    const qint64 want = qMin(m_capacity, m_size - offset);
    while (m_filled < want) {
        const ssize_t got = ::pread(m_fd, m_buffer.get() + m_filled, std::size_t(want - m_filled), m_base + m_filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        m_filled += got;
    }
    // The file may have shrunk since it was measured; treat what is gone as the end.
    if (m_filled < want)
        m_size = m_base + m_filled;
    return offset + length <= m_base + m_filled ? m_buffer.get() : nullptr;
}

qint64 MediaFileWindow::id3v2SizeAt(qint64 offset)
{
    const uchar *h = at(offset, 10);
    if (!h || std::memcmp(h, "ID3", 3) != 0 || h[3] == 0xFF || h[4] == 0xFF)
        return 0;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80)
        return 0;
    const qint64 body = qint64(h[6]) << 21 | qint64(h[7]) << 14 | qint64(h[8]) << 7 | h[9];
    const bool footer = h[5] & 0x10;
    return 10 + body + (footer ? 10 : 0);
}

qint64 MediaFileWindow::skipId3v2(qint64 offset)
{
    // Some taggers stack several tags (or pad between them); skip all of them.
    for (qint64 size = id3v2SizeAt(offset); size > 0; size = id3v2SizeAt(offset))
        offset += size;
    return offset;
}

qint64 MediaFileWindow::audioEnd()
{
    qint64 end = m_size;
    if (const uchar *t = end >= 128 ? at(end - 128, 128) : nullptr; t && std::memcmp(t, "TAG", 3) == 0)
        end -= 128;
    if (const uchar *f = end >= 32 ? at(end - 32, 32) : nullptr; f && std::memcmp(f, "APETAGEX", 8) == 0) {
        const qint64 tagSize = le32(f + 12);
        const bool hasHeader = le32(f + 20) & 0x80000000u;
        const qint64 total = tagSize + (hasHeader ? 32 : 0);
        if (total >= 32 && total <= end)
            end -= total;
    }
    return end;
}
