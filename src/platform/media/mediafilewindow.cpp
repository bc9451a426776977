#include "platform/media/mediafilewindow.h"

#include "platform/media/regularfile.h"

#include <cstring>

namespace {
// Misses outside the head and the tail are rare and small (an atom, a page, a frame).
constexpr qint64 MissWindow = 64 * 1024;
// The former window size, for the unbuffered comparison.
constexpr qint64 PlainWindow = 256 * 1024;
// A walk reads large blocks: fewer system calls, and the device sees one sequential stream.
constexpr qint64 WalkWindow = 256 * 1024;

quint32 le32(const uchar *p) { return quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0]; }
} // namespace

MediaFileWindow::MediaFileWindow(int fd, qint64 fileSize, bool preload)
    : m_fd(fd)
    , m_size(qMax<qint64>(0, fileSize))
    , m_capacity(preload ? MissWindow : PlainWindow)
{
    if (!preload || m_size == 0)
        return;
    // A file of up to head + tail bytes is read whole in one go.
    const qint64 whole = HeadBytes + TailBytes;
    const qint64 headBytes = m_size <= whole ? m_size : HeadBytes;
    m_headBuffer.reset(new uchar[std::size_t(headBytes)]);
    m_head.filled = readFully(0, m_headBuffer.get(), headBytes);
    if (m_head.filled < headBytes) {
        m_size = m_head.filled; // shrank since it was measured
        return;
    }
    if (m_size <= whole)
        return;
    m_tailBuffer.reset(new uchar[std::size_t(TailBytes)]);
    m_tail.base = m_size - TailBytes;
    m_tail.filled = readFully(m_tail.base, m_tailBuffer.get(), TailBytes);
    if (m_tail.filled < TailBytes)
        m_size = m_tail.base + m_tail.filled;
}

qint64 MediaFileWindow::readFully(qint64 offset, uchar *target, qint64 length)
{
    qint64 done = 0;
    while (done < length) {
        const qint64 got = RegularFile::readAt(m_fd, target + done, length - done, offset + done);
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

void MediaFileWindow::beginWalk()
{
    if (m_capacity >= WalkWindow)
        return;
    m_capacity = WalkWindow;
    // A short song is held whole from the first read: nothing is left to read ahead.
    if (m_head.filled < m_size)
        RegularFile::adviseSequential(m_fd);
}

void MediaFileWindow::fill(qint64 offset)
{
    // No larger than what is left of the file: most walked songs are short, and a buffer of
    // the whole walk window would be mostly memory the allocator maps, clears and unmaps.
    const qint64 want = qMin(m_capacity, m_size - offset);
    if (m_allocated < want) {
        m_windowBuffer.reset(new uchar[std::size_t(want)]);
        m_allocated = want;
    }
    m_window.base = offset;
    m_window.filled = readFully(offset, m_windowBuffer.get(), want);
    // The file may have shrunk since it was measured; treat what is gone as the end.
    if (m_window.filled < want)
        m_size = offset + m_window.filled;
}

const uchar *MediaFileWindow::at(qint64 offset, int length)
{
    if (offset < 0 || length < 0 || offset + length > m_size)
        return nullptr;
    if (m_window.holds(offset, length))
        return m_windowBuffer.get() + (offset - m_window.base);
    if (m_head.holds(offset, length))
        return m_headBuffer.get() + offset;
    if (m_tail.holds(offset, length))
        return m_tailBuffer.get() + (offset - m_tail.base);
    if (length > m_capacity)
        return nullptr;
    fill(offset);
    return m_window.holds(offset, length) ? m_windowBuffer.get() : nullptr;
}

const uchar *MediaFileWindow::held(qint64 offset, qint64 *count)
{
    if (offset < 0 || offset >= m_size)
        return nullptr;
    if (!m_window.holds(offset, 1) && !m_head.holds(offset, 1) && !m_tail.holds(offset, 1))
        fill(offset);
    // The same order as at(), so that both hand out the same bytes.
    for (const auto &[span, buffer] : {std::pair{&m_window, m_windowBuffer.get()}, std::pair{&m_head, m_headBuffer.get()},
                                       std::pair{&m_tail, m_tailBuffer.get()}}) {
        if (span->holds(offset, 1)) {
            *count = span->base + span->filled - offset;
            return buffer + (offset - span->base);
        }
    }
    return nullptr;
}

qint64 MediaFileWindow::read(qint64 offset, uchar *target, qint64 length)
{
    if (offset < 0 || length <= 0 || offset >= m_size)
        return 0;
    length = qMin(length, m_size - offset);
    qint64 done = 0;
    while (done < length) {
        const qint64 pos = offset + done;
        const qint64 left = length - done;
        const Span *held = nullptr;
        const uchar *bytes = nullptr;
        for (const auto &[span, buffer] : {std::pair{&m_window, m_windowBuffer.get()},
                                            std::pair{&m_head, m_headBuffer.get()},
                                            std::pair{&m_tail, m_tailBuffer.get()}}) {
            if (span->holds(pos, 1)) {
                held = span;
                bytes = buffer;
                break;
            }
        }
        if (held) {
            const qint64 n = qMin(left, held->base + held->filled - pos);
            std::memcpy(target + done, bytes + (pos - held->base), std::size_t(n));
            done += n;
            continue;
        }
        // Up to the next held bytes, if any lie inside the request.
        qint64 gap = left;
        for (const Span *span : {&m_head, &m_tail}) {
            if (span->filled > 0 && span->base > pos)
                gap = qMin(gap, span->base - pos);
        }
        if (gap >= m_capacity) {
            // A region the format pointed at: read exactly it, straight into place.
            const qint64 got = readFully(pos, target + done, gap);
            done += got;
            if (got < gap) {
                m_size = pos + got;
                break;
            }
            continue;
        }
        fill(pos);
        if (m_window.filled == 0)
            break;
    }
    return done;
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
