#pragma once

#include "model/songedits.h"
#include "platform/audio/audiodecoder.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <thread>
#include <vector>

// Decodes songs on all cores, ahead of one reader that takes them strictly in
// order, as 16-bit stereo (or the decoder's channels) PCM bytes. The songs
// after the one being read may decode ahead into a shared budget of memory
// (enough for the next songs to decode whole while one is written), so a
// whole set never sits in memory and the cores are not left idle.
class OrderedDecodes
{
public:
    // `gains` holds a linear factor per song, applied before the 16-bit step;
    // missing entries are 1. `edits` holds each song's edits: a song with
    // some is delivered as they shape it.
    OrderedDecodes(QStringList paths, AudioDecoder::Output output, QList<float> gains = {}, int threads = 0,
                   QList<SongEdits> edits = {});
    // Stops the decoders and waits for them.
    ~OrderedDecodes();
    OrderedDecodes(const OrderedDecodes &) = delete;
    OrderedDecodes &operator=(const OrderedDecodes &) = delete;

    enum class Take { Block, End, Failed };
    // The next block of `song`; songs must be taken in order, each to its End.
    // Failed carries the reason, worded for the user.
    Take take(int song, QByteArray &block, QString *reason);

    // Bytes the song being read may have waiting, and bytes all later songs may.
    static constexpr qint64 AheadBytes = 4 << 20;
    static constexpr qint64 BudgetBytes = 32 << 20;

private:
    struct Slot;
    void work();
    void decode(int song);

    QStringList m_paths;
    AudioDecoder::Output m_output;
    QList<float> m_gains;
    QList<SongEdits> m_edits;
    std::vector<std::unique_ptr<Slot>> m_slots;
    std::vector<std::thread> m_threads;
    std::atomic_int m_next{0};
    std::atomic_bool m_stop{false};
    // One lock for all songs: a song's worker waits on the budget that the
    // reader frees from another song.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    qint64 m_waiting = 0;   // bytes of songs after the one being read
    int m_reading = 0;
};
