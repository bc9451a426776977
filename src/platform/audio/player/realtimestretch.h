#pragma once

#include "model/songedits.h"

#include <QString>

#include <memory>
#include <vector>

// Key and tempo changed as a song plays, for listening: pitch by 2^(semitones/12),
// length by 100/tempo, on interleaved stereo float frames. What comes out is
// aligned with what went in (the stretcher's own delay is taken off), so the
// first frame out is the first frame in, moved in key and time. A build without
// the stretching library has none: available() says so and the song is not
// stretched.
class RealtimeStretch
{
public:
    RealtimeStretch(int rate, int channels, int semitones, double tempo);
    ~RealtimeStretch();
    RealtimeStretch(const RealtimeStretch &) = delete;
    RealtimeStretch &operator=(const RealtimeStretch &) = delete;

    // Whether this build can change key and tempo at all.
    [[nodiscard]] static bool available();
    // Why a song with these edits is not heard as they say (its key and tempo
    // stay its own); empty when it is.
    [[nodiscard]] static QString unheardReason(const SongEdits &edits);
    // For the tests: behave as a build without the library, on one with it.
    static void pretendMissing(bool missing);

    // Takes `frames` frames; what is ready comes out appended to `out`.
    // `last`: nothing follows, everything still held comes out.
    void process(const float *in, long frames, bool last, std::vector<float> &out);
    // Forgets everything held, for a jump in the song.
    void reset();

private:
    [[nodiscard]] static bool compiledIn();
    struct Engine;
    std::unique_ptr<Engine> d;
    int m_channels;
};
