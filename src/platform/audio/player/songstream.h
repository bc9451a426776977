#pragma once

#include "model/songedits.h"
#include "platform/audio/player/realtimemutex.h"

#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// One song decoded ahead on a thread of its own into a few seconds of buffer,
// for the output to read as it plays: stereo float samples at the output's
// rate, through the same decoder and trim as every other use of the song, so
// what is heard is what is delivered. Never the whole song: the decoder waits
// while the buffer is full. Reading never waits, so the output's thread never
// stalls on a file or a decoder.
//
// A song with edits is read as they shape it (its kept ranges joined, faded,
// and moved in key and tempo as it plays), and every frame here (positions,
// seeks) is one of the edited song as it is delivered.
class AudioDecoder;

class SongStream
{
public:
    enum class Status { Opening, Playing, Ended, Failed };

    // `songMs`: the song's length as measured, which lays the edits out; 0 for
    // the length the file states.
    SongStream(const QString &path, int rate, const SongEdits &edits = {}, qint64 songMs = 0);
    ~SongStream();
    SongStream(const SongStream &) = delete;
    SongStream &operator=(const SongStream &) = delete;

    // Copies up to `frames` stereo frames into `out`; returns how many there
    // were. `at` receives the song frame of the first of them.
    qint64 read(float *out, qint64 frames, qint64 *at);
    // Moves to `frame`: what was buffered is dropped, the decoder starts there.
    void seek(qint64 frame);

    // Ended only once everything decoded has been read.
    [[nodiscard]] Status status() const;
    // Why the song could not be played, or could not be read on from where it
    // failed after part of it had played; empty unless it failed.
    [[nodiscard]] QString failure() const;
    // Whether `frames` are ready to be read (or all there is of the song).
    [[nodiscard]] bool hasAhead(qint64 frames) const;

    static constexpr int Channels = 2;

private:
    void work();
    void playPlain(AudioDecoder &decoder);
    void playEdited(AudioDecoder &decoder);
    bool push(const float *samples, qint64 frames);
    [[nodiscard]] qint64 availableLocked() const { return m_written - m_read; }

    const QString m_path;
    const int m_rate;
    const SongEdits m_edits;
    const qint64 m_songMs;
    const qint64 m_capacity; // frames
    mutable RealtimeMutex m_mutex;
    std::condition_variable_any m_wake;
    std::vector<float> m_ring;
    qint64 m_read = 0;    // frames taken out since the last seek
    qint64 m_written = 0; // frames put in since the last seek
    qint64 m_origin = 0;  // the song frame of the first frame after the last seek
    qint64 m_seekTo = -1; // a seek the decoder has yet to make
    bool m_opened = false;
    bool m_decodedAll = false;
    bool m_stop = false;
    QString m_failure;
    QString m_brokeOff; // the read error that ended what was decoded
    std::thread m_worker;
};
