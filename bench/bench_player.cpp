// The preview as the performer hears it, through the real window and the sound server's null
// sink, heard at its monitor: press to sound (50 presses, cold and armed, idle and with both
// cores busy), seek to sound, the clock against what was heard over a whole song, underruns
// over a long run-through, and memory while a long song plays. Beside it, the media player
// the preview used before (Qt Multimedia's, FFmpeg backend, a new player per press as before),
// measured the same way in the same run.
//
// usage (inside scripts/session.sh, which starts the null sink):
//   bench_player [presses=50] [songs-folder] [run-through-minutes=2]
// With BENCH_TRACE set, the clock is printed every second as it is compared with the sink.
#include "benchfigures.h"
#include "benchwindow.h"

#include "forms/mainwindow.h"
#include "model/songedits.h"
#include "model/songtable.h"
#include "platform/audio/audioplayer.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/media/mediaservice.h"

#include <QAction>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaPlayer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int MonitorRate = 48000;

// The sink's monitor, read on a thread of its own; every sample gets the time it was played.
class Monitor
{
public:
    explicit Monitor(const QString &sink)
    {
        const QByteArray command = "parec -d " + sink.toUtf8() + ".monitor --raw --format=s16le --channels=1 --rate="
            + QByteArray::number(MonitorRate) + " --latency-msec=2";
        m_pipe = popen(command.constData(), "r");
        m_thread = std::thread([this] {
            qint16 block[96];
            while (!m_stop) {
                const size_t n = fread(block, sizeof(qint16), 96, m_pipe);
                if (n == 0)
                    break;
                const auto now = Clock::now();
                std::lock_guard lock(m_mutex);
                for (size_t i = 0; i < n; ++i) {
                    const auto at = now - std::chrono::microseconds(qint64(n - 1 - i) * 1000000 / MonitorRate);
                    m_samples.push_back({ at, block[i] });
                }
                for (size_t i = 0; i < n; ++i)
                    if (std::abs(block[i]) >= 300)
                        m_lastLoud = m_total + qint64(i);
                m_total += qint64(n);
                if (m_samples.size() > size_t(MonitorRate) * 30) {
                    m_samples.erase(m_samples.begin(), m_samples.begin() + MonitorRate * 10);
                    m_erased += MonitorRate * 10;
                }
            }
        });
        QTest::qWait(300);
    }
    ~Monitor()
    {
        m_stop = true;
        pclose(m_pipe);
        m_thread.join();
    }
    // Milliseconds from `from` to the first sample louder than about -40 dBFS, or -1.
    double soundAfter(Clock::time_point from, int timeoutMs, const std::function<bool(qsizetype)> &accept = {})
    {
        for (int waited = 0; waited < timeoutMs; waited += 2) {
            {
                std::lock_guard lock(m_mutex);
                for (qsizetype i = 0; i < qsizetype(m_samples.size()); ++i) {
                    if (m_samples[size_t(i)].at < from || std::abs(m_samples[size_t(i)].value) < 300)
                        continue;
                    if (accept && !accept(i))
                        continue;
                    return std::chrono::duration<double, std::milli>(m_samples[size_t(i)].at - from).count();
                }
            }
            QTest::qWait(2);
        }
        return -1;
    }
    // Whether the 10 ms from sample `i` are nearer `high` than `low` (zero crossings).
    bool higherAt(qsizetype i, int low, int high)
    {
        const qsizetype n = MonitorRate / 100;
        if (i + n > qsizetype(m_samples.size()))
            return false;
        int crossings = 0;
        for (qsizetype k = i + 1; k < i + n; ++k)
            crossings += (m_samples[size_t(k - 1)].value < 0) != (m_samples[size_t(k)].value < 0);
        const double hz = crossings * 50.0;
        return std::abs(hz - high) < std::abs(hz - low);
    }
    // Samples the sink has played since the first loud one after `from` (what was heard,
    // counted by the sink's own clock rather than the wall's).
    qint64 heardSince(Clock::time_point from)
    {
        std::lock_guard lock(m_mutex);
        if (m_onset < 0)
            for (size_t i = 0; i < m_samples.size(); ++i)
                if (m_samples[i].at >= from && std::abs(m_samples[i].value) >= 300) {
                    m_onset = m_erased + qint64(i);
                    break;
                }
        return m_onset < 0 ? 0 : m_total - m_onset;
    }
    // Samples from that first loud one to the last loud one.
    qint64 soundLength()
    {
        std::lock_guard lock(m_mutex);
        return m_onset < 0 ? 0 : m_lastLoud - m_onset + 1;
    }
    // The time of the last sample louder than about -40 dBFS.
    Clock::time_point lastSound()
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_samples.crbegin(); it != m_samples.crend(); ++it)
            if (std::abs(it->value) >= 300)
                return it->at;
        return {};
    }

private:
    struct Sample {
        Clock::time_point at;
        qint16 value;
    };
    FILE *m_pipe = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{ false };
    std::mutex m_mutex;
    std::vector<Sample> m_samples;
    qint64 m_total = 0;
    qint64 m_erased = 0;
    qint64 m_onset = -1;
    qint64 m_lastLoud = -1;
};

class QuietBoxes : public MessageBoxes
{
public:
    void inform(QWidget *, const QString &, const QString &) override {}
    bool ask(QWidget *, const QString &, const QString &) override { return false; }
};

class NoFiles : public SetListDialog
{
public:
    QString fileToOpen(QWidget *, const QString &) override { return {}; }
    QString fileToSave(QWidget *, const QString &) override { return {}; }
};

// Keeps both cores busy, as a build beside the program would.
class Load
{
public:
    explicit Load(int threads)
    {
        for (int i = 0; i < threads; ++i)
            m_threads.emplace_back([this] {
                volatile double x = 1;
                while (!m_stop)
                    x = std::sqrt(x + 1.0);
            });
    }
    ~Load()
    {
        m_stop = true;
        for (auto &t : m_threads)
            t.join();
    }

private:
    std::atomic<bool> m_stop{ false };
    std::vector<std::thread> m_threads;
};

struct Figures {
    double median = 0, worst = 0;
    int missed = 0;
};

Figures figures(const std::vector<double> &ms)
{
    Figures f;
    std::vector<double> heard;
    for (double v : ms)
        (v < 0 ? f.missed : (heard.push_back(v), f.missed)) += v < 0 ? 1 : 0;
    f.median = median(heard);
    f.worst = heard.empty() ? 0 : *std::max_element(heard.begin(), heard.end());
    return f;
}

void print(const char *what, const Figures &f, int underruns = -1)
{
    std::printf("  %-46s median %6.1f ms  worst %6.1f ms%s%s\n", what, f.median, f.worst,
                f.missed ? qPrintable(u"  (%1 never heard)"_s.arg(f.missed)) : "",
                underruns >= 0 ? qPrintable(u"  underruns %1"_s.arg(underruns)) : "");
}

// The window's press: F5 on the set list's row, timed to the first sound.
std::vector<double> windowPresses(MainWindow &window, PlaybackControl &playback, Monitor &monitor, const QStringList &songs,
                                  int presses, bool armed)
{
    std::vector<double> ms;
    auto *play = window.findChild<QAction *>(u"playSetListAction"_s);
    auto *stop = window.form()->findChild<QPushButton *>(u"Command30"_s);
    for (int i = 0; i < presses; ++i) {
        const int row = 1 + i % int(songs.size());
        window.form()->MSHFlexGrid2().setRow(row);
        if (armed)
            playback.arm(window.form()->MSHFlexGrid2().textAt(row, 2));
        QTest::qWait(armed ? 1200 : 400);
        const auto from = Clock::now();
        play->trigger();
        ms.push_back(monitor.soundAfter(from, 2000));
        stop->click();
        QTest::qWait(100);
    }
    return ms;
}

// The media player of before, a new one per press with the file opened by us, as before.
std::vector<double> mediaPlayerPresses(Monitor &monitor, const QStringList &songs, int presses)
{
    std::vector<double> ms;
    for (int i = 0; i < presses; ++i) {
        QTest::qWait(400);
        QFile file(songs[i % songs.size()]);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QAudioOutput output;
        QMediaPlayer player;
        player.setAudioOutput(&output);
        const auto from = Clock::now();
        player.setSourceDevice(&file, QUrl::fromLocalFile(file.fileName()));
        player.play();
        ms.push_back(monitor.soundAfter(from, 3000));
        player.stop();
    }
    return ms;
}

// End (the last 15 seconds) on a song that rises from 440 to 880 Hz at 20 s, timed to the
// first 10 ms heard at the new pitch.
std::vector<double> seeks(MainWindow &window, PlaybackControl &playback, Monitor &monitor, const QString &song, int count)
{
    std::vector<double> ms;
    window.form()->replaceSetList({ song }, u"seek"_s);
    window.form()->MSHFlexGrid2().setRow(1);
    window.findChild<QAction *>(u"playSetListAction"_s)->trigger();
    auto *ending = window.findChild<QAction *>(u"endingAction"_s);
    for (int i = 0; i < count; ++i) {
        playback.seek(song, 2000);
        QTest::qWait(400);
        const auto from = Clock::now();
        ending->trigger();
        ms.push_back(monitor.soundAfter(from, 2000, [&](qsizetype at) { return monitor.higherAt(at, 440, 880); }));
    }
    window.form()->findChild<QPushButton *>(u"Command30"_s)->click();
    return ms;
}

// The clock shown against the time the song has been heard, every 50 ms over the whole song,
// and where the song ends against its length in the length column.
void clockOverSong(MainWindow &window, PlaybackControl &playback, Monitor &monitor, const QString &song)
{
    window.form()->replaceSetList({ song }, u"clock"_s);
    window.form()->MSHFlexGrid2().setRow(1);
    const qint64 length = playback.lengthMs(song);
    QTest::qWait(300);
    const bool trace = qEnvironmentVariableIsSet("BENCH_TRACE");
    const auto from = Clock::now();
    window.findChild<QAction *>(u"playSetListAction"_s)->trigger();
    const double onset = monitor.soundAfter(from, 2000);
    std::vector<double> off;
    while (playback.state(song) == PlaybackControl::State::Playing) {
        const double heard = double(monitor.heardSince(from)) * 1000.0 / MonitorRate;
        off.push_back(std::abs(double(playback.positionMs(song)) - heard));
        if (trace && off.size() % 20 == 1)
            std::printf("    at %.0f ms heard, shown %lld ms\n", heard, static_cast<long long>(playback.positionMs(song)));
        QTest::qWait(50);
    }
    const auto ended = Clock::now();
    QTest::qWait(300);
    const double lastHeard = std::chrono::duration<double, std::milli>(monitor.lastSound() - from).count() - onset;
    const double endedAt = std::chrono::duration<double, std::milli>(ended - from).count() - onset;
    std::printf("  the clock against the samples the sink played, over %.1f s: median %.1f ms off, worst %.1f ms\n",
                length / 1000.0, median(off), off.empty() ? 0 : *std::max_element(off.begin(), off.end()));
    std::printf("  the sink played %.1f ms of the song, its length column says %lld ms; by the wall clock the sound\n"
                "  lasted %.1f ms and the song was shown as ended at %.1f ms\n",
                double(monitor.soundLength()) * 1000.0 / MonitorRate,
                static_cast<long long>(length), lastHeard, endedAt);
    window.form()->findChild<QPushButton *>(u"Command30"_s)->click();
}

qint64 rssKiB()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// A run-through of the set from its first song with both cores busy, for `minutes`; the
// underruns the output counted.
int runThrough(MainWindow &window, MediaService &media, const QStringList &songs, int minutes)
{
    window.form()->replaceSetList(songs, u"run"_s);
    window.form()->MSHFlexGrid2().setRow(1);
    const int before = media.player().underruns();
    Load load(2);
    window.findChild<QAction *>(u"runThroughAction"_s)->trigger();
    QTest::qWait(minutes * 60000);
    window.form()->findChild<QPushButton *>(u"Command30"_s)->click();
    return media.player().underruns() - before;
}

} // namespace

int main(int argc, char **argv)
{
    // The old player's backend, as the program chose it before; the new player never asks.
    qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    auto app = windowBenchApp(argc, argv);
    const int presses = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 50;
    char *setArgs[] = { argv[0], const_cast<char *>("1"), argc > 2 ? argv[2] : nullptr };
    const ShowSetBench set = showSetBench(argc > 2 ? 3 : 2, setArgs, u"player-songs"_s, false);
    const int runMinutes = argc > 3 ? qMax(1, QByteArray(argv[3]).toInt()) : 2;
    const QString sink = qEnvironmentVariable("KORVANDA_TEST_SINK");
    if (set.songs.isEmpty() || sink.isEmpty()) {
        std::printf("needs the songs and a PulseAudio null sink (run inside scripts/session.sh)\n");
        return 1;
    }
    // The media player of before is measured first, before the window opens its output: with
    // that stream open the sound server would be ready for it too.
    Monitor monitor(sink);
    std::printf("press to sound, %d presses each, songs of 3:30-4:30 in the set's mix of formats\n", presses);
    print("before: media player, idle", figures(mediaPlayerPresses(monitor, set.songs, presses)));
    {
        Load load(2);
        print("before: media player, both cores busy", figures(mediaPlayerPresses(monitor, set.songs, presses)));
    }
    QTemporaryDir settings;
    QuietBoxes boxes;
    SystemFolderDialog folderDialog;
    NoFiles files;
    MediaService media;
    MainWindow window(Form1Services{ &boxes, &folderDialog, &media, settings.path() + u'/', &media }, &files);
    window.show();
    window.form()->replaceSetList(set.songs, u"bench"_s);

    QTest::qWait(1500);
    print("own player (F5 in the window), idle", figures(windowPresses(window, media, monitor, set.songs, presses, false)),
          media.player().underruns());
    print("own player, armed song, idle", figures(windowPresses(window, media, monitor, set.songs, presses, true)),
          media.player().underruns());
    // The same songs edited as a performer shapes them: started 30 s in, a whole tone up.
    SongEdits edited;
    edited.startMs = 30000;
    edited.semitones = 2;
    const auto editAll = [&](const SongEdits &edits) {
        const SongTable &list = window.form()->MSHFlexGrid2();
        for (int r = 1; r < list.Rows(); ++r) {
            SetListRowExtras extras = list.extrasAt(r);
            extras.edits = edits;
            window.form()->applyRowEdits(r, extras);
        }
    };
    editAll(edited);
    print("own player, edited song (0:30 on, key +2), idle",
          figures(windowPresses(window, media, monitor, set.songs, presses, false)), media.player().underruns());
    editAll({});
    {
        Load load(2);
        print("own player, both cores busy", figures(windowPresses(window, media, monitor, set.songs, presses, false)),
              media.player().underruns());
        print("own player, armed song, both cores busy", figures(windowPresses(window, media, monitor, set.songs, presses, true)),
              media.player().underruns());
        editAll(edited);
        print("own player, edited song, both cores busy",
              figures(windowPresses(window, media, monitor, set.songs, presses, false)), media.player().underruns());
        editAll({});
    }

    const QString rising = set.base + u"/rising.wav"_s;
    const QString tenMinutes = set.base + u"/ten-minutes.mp3"_s;
    if ((!QFile::exists(rising) && !MediaGen::twoTones(rising, 40.0, 440, 880, 20.0))
        || (!QFile::exists(tenMinutes)
            && !MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, MediaGen::music(44100, 600), u"-b:a"_s, u"320k"_s, tenMinutes }))) {
        std::printf("could not make the seek and memory songs\n");
        return 1;
    }
    std::printf("seek: End, timed to the sound of the new place (%d times)\n", presses);
    print("own player", figures(seeks(window, media, monitor, rising, presses)));
    {
        Load load(2);
        print("own player, both cores busy", figures(seeks(window, media, monitor, rising, presses)));
    }

    const qint64 idle = rssKiB();
    window.form()->replaceSetList({ tenMinutes }, u"memory"_s);
    window.form()->MSHFlexGrid2().setRow(1);
    window.findChild<QAction *>(u"playSetListAction"_s)->trigger();
    qint64 peak = 0;
    for (int i = 0; i < 40; ++i) {
        media.seek(tenMinutes, qint64(i) * 14000);
        QTest::qWait(250);
        peak = qMax(peak, rssKiB());
    }
    window.form()->findChild<QPushButton *>(u"Command30"_s)->click();
    std::printf("memory: a 10-minute MP3 playing and moved in, %.1f MiB above the idle window (%.1f MiB)\n",
                double(peak - idle) / 1024.0, double(idle) / 1024.0);

    clockOverSong(window, media, monitor, set.songs.value(0));
    std::printf("run-through of the set, both cores busy, %d minutes: %d underruns\n", runMinutes,
                runThrough(window, media, set.songs, runMinutes));
    return 0;
}
