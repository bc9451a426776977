#pragma once

#include <QtGlobal>

#include <memory>

// Large windowed reads over an open file descriptor for the frame walkers: walking a stream one
// read per frame header is about ten times slower than reading big windows and parsing them
// in memory. Also finds where the audio of a tagged stream begins and ends.
class MediaFileWindow
{
public:
    MediaFileWindow(int fd, qint64 fileSize);

    // A pointer to `length` bytes at `offset`, or null when they are not all in the file.
    // Valid until the next call.
    [[nodiscard]] const uchar *at(qint64 offset, int length);

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
    int m_fd;
    qint64 m_size;
    qint64 m_base = 0;
    qint64 m_filled = 0;
    qint64 m_capacity;
    // Left uninitialised: zeroing a window that is about to be read over costs more than the
    // read itself on a warm cache.
    std::unique_ptr<uchar[]> m_buffer;
};
