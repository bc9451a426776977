#pragma once

#include <QtGlobal>

#include <memory>

// The bytes of one open media file as the probe needs them, read with as few system calls as
// possible. Every format keeps what a length needs near its start or its end (headers, the
// last Ogg page, tags), so the first 64 KiB and the last 16 KiB are read at once and most
// probes never read anything else. What lies elsewhere is read on demand: a region a format
// points at (a large ID3v2 tag, an MP4 index at the end) in one read of exactly that region,
// and a walk over a whole stream front to back in large reads with a sequential hint.
// Also finds where the audio of a tagged stream begins and ends.
class MediaFileWindow
{
public:
    // Bytes read at once from the start and from the end of the file.
    static constexpr qint64 HeadBytes = 64 * 1024;
    static constexpr qint64 TailBytes = 16 * 1024;

    // `preload` false reads nothing in advance and keeps small windows: the way the probe read
    // before it held the head and tail, kept so the benchmark can show the difference.
    MediaFileWindow(int fd, qint64 fileSize, bool preload = true);

    // A pointer to `length` bytes at `offset`, or null when they are not all in the file.
    // Valid until the next call.
    [[nodiscard]] const uchar *at(qint64 offset, int length);
    // A pointer to the byte at `offset` and, in `count`, how many bytes from there on are held
    // in one piece (reading them when none are): a walk then steps over many small records
    // without a call for each. Null at or past the end of the file. Valid until the next call.
    [[nodiscard]] const uchar *held(qint64 offset, qint64 *count);
    // Copies up to `length` bytes at `offset` into `target`; returns how many (fewer only at
    // the end of the file, or on a read error).
    [[nodiscard]] qint64 read(qint64 offset, uchar *target, qint64 length);

    // A walk over the whole stream follows: read ahead in large sequential reads.
    void beginWalk();

    [[nodiscard]] int fd() const { return m_fd; }
    [[nodiscard]] qint64 fileSize() const { return m_size; }

    // The first byte after every leading ID3v2 tag.
    [[nodiscard]] qint64 skipId3v2(qint64 offset);
    // Where the audio ends: before an ID3v1 tag and an APE tag at the end of the file.
    [[nodiscard]] qint64 audioEnd();
    // The size of an ID3v2 tag starting at `offset` (header, body and footer), or 0.
    [[nodiscard]] qint64 id3v2SizeAt(qint64 offset);

    // Whether the audio after the leading tags opens with three frames that chain
    // (or fewer that end exactly at the end of the audio), all at one sample rate.
    // One frame header alone is too easily faked by chance bytes in another format.
    // `parse` reads a header of `headerBytes` into something with `bytes` and
    // `sampleRate`, or nothing.
    template<typename Parse>
    [[nodiscard]] bool startsWithChainedFrames(int headerBytes, Parse parse)
    {
        const qint64 end = audioEnd();
        qint64 pos = skipId3v2(0);
        int rate = 0;
        for (int frames = 0; frames < 3; ++frames) {
            if (frames > 0 && pos == end)
                return true;
            const uchar *p = pos + headerBytes <= end ? at(pos, headerBytes) : nullptr;
            const auto f = p ? parse(p) : decltype(parse(p)){};
            if (!f || pos + f->bytes > end || (rate != 0 && f->sampleRate != rate))
                return false;
            rate = f->sampleRate;
            pos += f->bytes;
        }
        return true;
    }

private:
    // Bytes held from `base` on.
    struct Span {
        qint64 base = 0;
        qint64 filled = 0;
        [[nodiscard]] bool holds(qint64 offset, qint64 length) const
        {
            return offset >= base && offset + length <= base + filled;
        }
    };

    qint64 readFully(qint64 offset, uchar *target, qint64 length);
    // Fills the moving window from `offset`.
    void fill(qint64 offset);

    int m_fd;
    qint64 m_size;
    Span m_head;
    Span m_tail;
    Span m_window;
    qint64 m_capacity;
    // Left uninitialised: zeroing a buffer that is about to be read over costs more than the
    // read itself on a warm cache. The window is allocated on its first miss only.
    std::unique_ptr<uchar[]> m_headBuffer;
    std::unique_ptr<uchar[]> m_tailBuffer;
    std::unique_ptr<uchar[]> m_windowBuffer;
    qint64 m_allocated = 0;
};
