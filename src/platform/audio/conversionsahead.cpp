#include "platform/audio/conversionsahead.h"

#include "platform/audio/songconverter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// The title a new file's tags carry: the song's line without its number.
QString titleOf(const ExportItem &item)
{
    if (!item.title.isEmpty())
        return item.title;
    QString line = item.line;
    if (line.endsWith(u"\r\n"_s))
        line.chop(2);
    return line.mid(item.number.size() + 1);
}

} // namespace

ConversionsAhead::ConversionsAhead(const QList<ExportItem> &items, int threads)
    : m_items(items), m_folder(QDir::tempPath() + u"/korvanda-export-XXXXXX"_s)
{
    for (qsizetype i = 0; i < m_items.size(); ++i)
        if (needsConversion(m_items[i]))
            m_order.push_back(int(i));
    m_ready.resize(m_order.size());
    if (m_order.empty())
        return;
    const int cores = threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency()));
    const int count = std::min<int>(cores, int(m_order.size()));
    // Each core has one song in hand and the next one waiting. A set with
    // edited songs mixes conversions that take a second (a cut in an MP3's
    // frames) with ones that take a minute (a new key): there each core may
    // run two songs ahead, so that one slow song does not leave the other
    // cores waiting for the copy to take it.
    const bool uneven = std::any_of(m_items.cbegin(), m_items.cend(), [](const ExportItem &item) {
        return item.conversion.edits.stretches();
    });
    m_ahead = size_t(count) * (uneven ? 2 : 1) + 1;
    for (int t = 0; t < count; ++t)
        m_threads.emplace_back([this] { work(); });
}

ConversionsAhead::~ConversionsAhead()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    for (std::thread &t : m_threads)
        t.join();
    // The temporary folder goes with everything in it.
}

void ConversionsAhead::work()
{
    for (;;) {
        size_t position = 0;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || (m_next < m_order.size() && m_next < m_reading + m_ahead); });
            if (m_stop || m_next >= m_order.size())
                return;
            position = m_next++;
        }
        const ExportItem &item = m_items[m_order[position]];
        auto ready = std::make_unique<Ready>();
        if (!m_folder.isValid()) {
            ready->reason = u"一時フォルダを作れません（%1）"_s.arg(m_folder.errorString());
        } else {
            ready->path = m_folder.filePath(u"%1.%2"_s.arg(position).arg(QFileInfo(item.destinationPath).suffix()));
            ready->ok = SongConverter::convert(item.sourcePath, item.conversion, titleOf(item), ready->path, &m_stop,
                                               &ready->reason);
            ready->bytes = ready->ok ? QFileInfo(ready->path).size() : 0;
        }
        {
            std::lock_guard lock(m_mutex);
            m_ready[position] = std::move(ready);
        }
        m_changed.notify_all();
    }
}

ConversionsAhead::Ready ConversionsAhead::take(int item, const std::atomic_bool *abort)
{
    const auto found = std::find(m_order.begin(), m_order.end(), item);
    if (found == m_order.end())
        return { false, {}, u"変換の指定がありません"_s, 0 };
    const size_t position = size_t(found - m_order.begin());
    std::unique_lock lock(m_mutex);
    m_reading = position;
    m_changed.notify_all();
    while (!m_changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return m_ready[position] != nullptr; })) {
        if (abort && *abort) {
            m_stop = true;
            m_changed.notify_all();
            return { false, {}, {}, 0 };
        }
    }
    return *m_ready[position];
}

void ConversionsAhead::release(int item)
{
    const auto found = std::find(m_order.begin(), m_order.end(), item);
    if (found == m_order.end())
        return;
    const size_t position = size_t(found - m_order.begin());
    QString path;
    {
        std::lock_guard lock(m_mutex);
        if (m_ready[position])
            path = m_ready[position]->path;
        m_reading = position + 1;
    }
    m_changed.notify_all();
    if (!path.isEmpty())
        QFile::remove(path);
}
