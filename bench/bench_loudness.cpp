// Measuring a set's loudness as the window does it: 15 songs of about four
// minutes in the mix of formats performers have, handed to the loudness
// service at once and measured on all cores, with no cache to help. Beside it
// in the same run: ffmpeg's own ebur128 meter (true peak on) on the same
// songs, one after another. Meanwhile a 5 ms timer on the event loop tells the
// longest time the loop went without running it: the window must never wait.
//
// usage: bench_loudness [runs=3] [folder]   (the songs are made once and kept there)
#include "model/levelmatch.h"
#include "platform/audio/loudnessservice.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool ffmpeg(const QStringList &args)
{
    return QProcess::execute(u"ffmpeg"_s, QStringList{ u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s } + args) == 0;
}

// 15 songs, 3:30 to 4:30, from a 20-second piece looped to length, each at its own level.
QStringList makeSongs(const QString &folder)
{
    QDir().mkpath(folder);
    const QString piece = folder + u"/piece.wav"_s;
    if (!QFileInfo::exists(piece)
        && !ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s,
                     u"aevalsrc=0.25*sin(220*2*PI*t)*(1+sin(2*PI*t/3))+0.1*sin(1760*2*PI*t)+0.2*(random(0)-0.5)*lt(mod(t\\,0.5)\\,0.05)|"
                     u"0.25*sin(330*2*PI*t)*(1+cos(2*PI*t/3))+0.1*sin(2640*2*PI*t)+0.2*(random(1)-0.5)*lt(mod(t\\,0.5)\\,0.05):s=44100:d=20"_s,
                     piece }))
        return {};
    const struct {
        const char *extension;
        QStringList codec;
    } kinds[] = {
        { "mp3", { u"-c:a"_s, u"libmp3lame"_s, u"-b:a"_s, u"320k"_s } },
        { "mp3", { u"-c:a"_s, u"libmp3lame"_s, u"-q:a"_s, u"2"_s } },
        { "m4a", { u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"256k"_s } },
        { "mp3", { u"-c:a"_s, u"libmp3lame"_s, u"-b:a"_s, u"320k"_s } },
        { "flac", { u"-c:a"_s, u"flac"_s } },
        { "mp3", { u"-c:a"_s, u"libmp3lame"_s, u"-q:a"_s, u"2"_s } },
        { "m4a", { u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"256k"_s } },
        { "wav", { u"-c:a"_s, u"pcm_s24le"_s, u"-ar"_s, u"48000"_s } },
        { "mp3", { u"-c:a"_s, u"libmp3lame"_s, u"-b:a"_s, u"320k"_s } },
        { "ogg", { u"-c:a"_s, u"libvorbis"_s, u"-q:a"_s, u"6"_s } },
        { "mp3", { u"-c:a"_s, u"libmp3lame"_s, u"-q:a"_s, u"2"_s } },
        { "m4a", { u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"256k"_s } },
        { "mp3", { u"-c:a"_s, u"libmp3lame"_s, u"-b:a"_s, u"320k"_s } },
        { "flac", { u"-c:a"_s, u"flac"_s } },
        { "mp3", { u"-c:a"_s, u"libmp3lame"_s, u"-q:a"_s, u"2"_s } },
    };
    QStringList songs;
    for (int i = 0; i < 15; ++i) {
        const int seconds = 210 + (i * 37) % 61;
        const QString song = folder + u"/%1 Song.%2"_s.arg(i + 1, 2, 10, QLatin1Char('0')).arg(QLatin1StringView(kinds[i].extension));
        if (!QFileInfo::exists(song)
            && !ffmpeg(QStringList{ u"-stream_loop"_s, u"-1"_s, u"-i"_s, piece, u"-t"_s, QString::number(seconds), u"-af"_s,
                                    u"volume=%1dB"_s.arg(-((i * 7) % 11)) }
                       + kinds[i].codec + QStringList{ song }))
            return {};
        songs << song;
    }
    return songs;
}

} // namespace

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 3;
    const QString base = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QCoreApplication::applicationDirPath() + u"/bench-loudness"_s;
    std::printf("making the songs (once) in %s\n", qPrintable(base));
    const QStringList songs = makeSongs(base + u"/songs"_s);
    if (songs.isEmpty())
        return 1;

    std::vector<double> ours, theirs, stalls;
    QList<std::optional<Loudness>> levels;
    for (int r = 0; r <= runs; ++r) {
        QElapsedTimer t;
        t.start();
        for (const QString &song : songs)
            QProcess::execute(u"ffmpeg"_s, { u"-nostdin"_s, u"-v"_s, u"quiet"_s, u"-i"_s, song, u"-af"_s, u"ebur128=peak=true"_s,
                                             u"-f"_s, u"null"_s, u"-"_s });
        const double ffmpegMs = double(t.nsecsElapsed()) / 1e6;

        // No cache: every song is measured.
        LoudnessService service(QString{});
        QEventLoop loop;
        int measured = 0;
        QObject::connect(&service, &LoudnessService::measured, &loop, [&] {
            if (++measured == songs.size())
                loop.quit();
        });
        QTimer tick;
        tick.setInterval(5);
        QElapsedTimer sinceTick;
        double longest = 0;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.start();
        });
        t.start();
        sinceTick.start();
        tick.start();
        service.request(songs);
        loop.exec();
        const double oursMs = double(t.nsecsElapsed()) / 1e6;
        levels.clear();
        for (const QString &song : songs)
            levels.append(service.result(song).loudness);
        // The first round only warms the page cache for both.
        if (r == 0)
            continue;
        ours.push_back(oursMs);
        theirs.push_back(ffmpegMs);
        stalls.push_back(longest);
        std::printf("  run %d: service %.0f ms, ffmpeg %.0f ms, longest event-loop gap %.1f ms\n", r, oursMs, ffmpegMs, longest);
    }
    const auto spread = LevelMatch::spread(levels);
    const double o = median(ours), f = median(theirs);
    std::printf("15 songs, 3:30 to 4:30 (8 MP3, 3 M4A, 2 FLAC, 1 WAV 48 kHz, 1 Ogg), %d cores, median of %d runs\n",
                QThread::idealThreadCount(), runs);
    if (spread)
        std::printf("  the set measured %.1f to %.1f LUFS\n", spread->quietest, spread->loudest);
    std::printf("  loudness service, all songs at once          %9.1f ms\n", o);
    std::printf("  ffmpeg ebur128 (peak=true), one after another %9.1f ms\n", f);
    std::printf("  ratio                                         %9.2f x   (goal <= 0.6 x: %s)\n", o / f, o / f <= 0.6 ? "met" : "MISSED");
    std::printf("  longest event-loop gap (5 ms timer)           %9.1f ms  (goal <= 50 ms: %s)\n", median(stalls),
                *std::max_element(stalls.begin(), stalls.end()) <= 50 ? "met in every run" : "MISSED");
    return 0;
}
