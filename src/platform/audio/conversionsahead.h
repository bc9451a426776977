#pragma once

#include "model/exportplan.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Converts the export's songs that are not plain copies on all cores, ahead
// of the copy that takes them in set order, into a private temporary folder.
// Only a few songs are ever converted ahead of the one being copied, so the
// temporary room stays that of a few songs, whatever the length of the set.
class ConversionsAhead
{
public:
    explicit ConversionsAhead(const QList<ExportItem> &items, int threads = 0);
    // Stops the conversions, waits for them and removes what they wrote.
    ~ConversionsAhead();
    ConversionsAhead(const ConversionsAhead &) = delete;
    ConversionsAhead &operator=(const ConversionsAhead &) = delete;

    struct Ready {
        bool ok = false;
        QString path;     // the converted file, while it is not released
        QString reason;   // why it could not be converted, worded for the user
        qint64 bytes = 0;
    };
    // Waits for the item's conversion (an item that is not a plain copy).
    // `abort`, when given and set, stops every conversion; nothing is ready then.
    [[nodiscard]] Ready take(int item, const std::atomic_bool *abort = nullptr);
    // The item's file has been copied: its room is given back.
    void release(int item);

    [[nodiscard]] static bool needsConversion(const ExportItem &item)
    {
        return item.conversion.kind != SongConversion::Kind::Copy;
    }

private:
    void work();

    QList<ExportItem> m_items;
    QTemporaryDir m_folder;
    std::vector<int> m_order;              // the items to convert, in set order
    std::vector<std::unique_ptr<Ready>> m_ready;   // per position in m_order, once done
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    size_t m_next = 0;      // the next position a worker takes
    size_t m_reading = 0;   // the position the copy waits for or copies
    size_t m_ahead = 2;
    std::atomic_bool m_stop{ false };
};
