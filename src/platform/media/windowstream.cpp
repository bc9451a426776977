#include "platform/media/windowstream.h"

#include "platform/media/mediafilewindow.h"

WindowStream::WindowStream(MediaFileWindow &window, const QByteArray &name) : m_window(window), m_name(name) {}

TagLib::FileName WindowStream::name() const
{
    return m_name.constData();
}

TagLib::ByteVector WindowStream::readBlock(unsigned long length)
{
    const qint64 left = qMax<qint64>(0, m_window.fileSize() - m_pos);
    const qint64 want = qMin<qint64>(qint64(qMin<unsigned long>(length, 0x7fffffffUL)), left);
    if (want <= 0)
        return {};
    TagLib::ByteVector bytes(static_cast<unsigned int>(want));
    const qint64 got = m_window.read(m_pos, reinterpret_cast<uchar *>(bytes.data()), want);
    bytes.resize(static_cast<unsigned int>(got));
    m_pos += long(got);
    return bytes;
}

void WindowStream::seek(long offset, Position p)
{
    switch (p) {
    case Beginning: m_pos = offset; break;
    case Current: m_pos += offset; break;
    case End: m_pos = long(m_window.fileSize()) + offset; break;
    }
    if (m_pos < 0)
        m_pos = 0;
}

long WindowStream::length()
{
    return long(m_window.fileSize());
}
