#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cmath>
#include <optional>

// Generates short test songs with Debian's ffmpeg, lame and sox, and measures the length a full
// decode gives. Nothing is downloaded; every file is written into the folder the test owns.
class MediaGen
{
public:
    // One kind of song the accuracy corpus holds.
    struct Kind {
        QString name;      // also the file's base name
        QString extension; // without the dot
    };

    // Which of the tools are missing from PATH (empty when all are there).
    [[nodiscard]] static QStringList missingTools(const QStringList &tools = { QStringLiteral("ffmpeg"), QStringLiteral("lame"),
                                                                               QStringLiteral("sox") });

    // Runs a program to completion; stdout goes to `out` when given (with stderr when `merged`).
    // Under Wine the tools are the Linux ones, run by the bridge that scripts/windows/wine-run.sh
    // starts beside the test (Wine cannot wait for a Linux process it starts itself).
    static bool run(const QString &program, const QStringList &arguments, QByteArray *out = nullptr,
                    int timeoutMs = 60000, bool merged = false);

    // Runs ffmpeg quietly, overwriting its output; stdout goes to `out` when given.
    static bool ffmpeg(const QStringList &args, QByteArray *out = nullptr);
    // A lavfi source with something at every height: two tones apart in each
    // channel, a slow swell, and a fade at the end that dithering must keep.
    [[nodiscard]] static QString music(int rate, double seconds);

    // A pure sine tone, encoded according to the file's extension (mp3, wav, flac, ogg, ...).
    static bool tone(const QString &path, double seconds, int hz = 880);
    // A tone that changes pitch at a known time, so that what is heard tells where playback is.
    static bool twoTones(const QString &path, double seconds, int firstHz, int secondHz, double switchAt);

    // The kinds of the accuracy corpus: MP3 CBR with and without Info header, VBR with and
    // without Xing header, VBR with a large cover-art ID3v2 tag (with and without Xing), WAV,
    // M4A AAC, raw ADTS AAC, Ogg Vorbis, FLAC, Opus, WMA, AC-3 and MPEG layer II.
    [[nodiscard]] static QList<Kind> corpusKinds();
    // Writes one corpus file of `seconds` length into `folder`; returns its path or nothing.
    static std::optional<QString> corpusFile(const QString &folder, const Kind &kind, double seconds);

    // A set for the benchmarks, made once and kept in `folder`: 15 songs of 3:30 to 4:30,
    // 60 minutes in all, in the mix of formats performers have (MP3 at 320 kbps and VBR,
    // M4A, FLAC, a 48 kHz WAV, Ogg), from a 20-second piece of "music" (tones, a beat of
    // noise, stereo movement) looped to length; with `ownLevels` each at a level of its own.
    static QStringList showSet(const QString &folder, bool ownLevels);

    // What ffmpeg's ebur128 filter reads: the integrated loudness from its last
    // frame's metadata (three decimals), the true peak from its summary (one).
    struct Meter {
        double lufs = NAN;
        double truePeakDb = NAN;
    };
    [[nodiscard]] static Meter meter(const QString &path, bool dualMono = false);

    // The length a full decode by ffmpeg gives, in milliseconds.
    [[nodiscard]] static std::optional<double> decodedLengthMs(const QString &path);

    // Whether a probed length shows the same whole seconds as the decoded one; one second off
    // is allowed when the decoded length lies within 50 ms of a whole second.
    [[nodiscard]] static bool sameShownLength(double probedMs, double decodedMs);
};
