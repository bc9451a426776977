#pragma once

#include <QByteArray>

#include <taglib/tiostream.h>

class MediaFileWindow;

// Lets TagLib read a file through the probe's window: the bytes already held answer its many
// small reads and seeks, and only what the window lacks is read from the file. Read-only;
// writes are ignored.
class WindowStream : public TagLib::IOStream
{
public:
    // `name` only serves TagLib as a hint (the extension); nothing is opened by it.
    WindowStream(MediaFileWindow &window, const QByteArray &name);

    [[nodiscard]] TagLib::FileName name() const override;
    [[nodiscard]] TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector &) override {}
    void insert(const TagLib::ByteVector &, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    [[nodiscard]] bool readOnly() const override { return true; }
    [[nodiscard]] bool isOpen() const override { return true; }
    void seek(long offset, Position p) override;
    [[nodiscard]] long tell() const override { return m_pos; }
    [[nodiscard]] long length() override;
    void truncate(long) override {}

private:
    MediaFileWindow &m_window;
    QByteArray m_name;
    long m_pos = 0;
};
