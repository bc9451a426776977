#pragma once

// What the audio benchmarks share: the null sink's monitor read with the time of every
// sample, a load that keeps both cores busy, quiet message boxes, and the figures printed.
#include "benchfigures.h"

#include "forms/main/form1.h"
#include "forms/main/mainwindow.h"
#include "model/songtable.h"
#include "platform/desktop/messageboxes.h"
#include "platform/media/playbackcontrol.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/media/mediaservice.h"

#include <QAction>
#include <QPushButton>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

constexpr int MonitorRate = 48000;

// The sink's monitor, read on a thread of its own. Each sample's time comes from its place
// in the stream, counted from the earliest the stream was ever read: a reader the load
// delays only ever reads late, so the least delayed read of all tells best when the sink
// played what it read, and every other sample follows from the sample rate.
class Monitor
{
public:
    explicit Monitor(const QString &sink)
    {
        // The recorder runs ahead of the load where the system allows it, so that it
        // seldom reads late at all.
        const QByteArray command = "exec $(chrt -f 20 true 2>/dev/null && echo chrt -f 20) parec -d " + sink.toUtf8()
            + ".monitor --raw --format=s16le --channels=1 --rate=" + QByteArray::number(MonitorRate) + " --latency-msec=2";
        m_pipe = popen(command.constData(), "r");
        m_thread = std::thread([this] {
            qint16 block[96];
            while (!m_stop) {
                const size_t n = fread(block, sizeof(qint16), 96, m_pipe);
                if (n == 0)
                    break;
                const auto now = Clock::now();
                std::lock_guard lock(m_mutex);
                m_samples.insert(m_samples.end(), block, block + n);
                m_total += qint64(n);
                const auto origin = now - sampleTime(m_total - 1);
                if (m_total == qint64(n) || origin < m_origin)
                    m_origin = origin;
                for (size_t i = 0; i < n; ++i) {
                    const qint64 index = m_total - qint64(n) + qint64(i);
                    if (std::abs(block[i]) >= 300)
                        m_lastLoud = index;
                    noteQuiet(block[i], index);
                }
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
        qint64 looked = -1; // the samples up to here were quiet or before `from`: never looked at again
        for (int waited = 0; waited < timeoutMs; waited += 2) {
            {
                std::lock_guard lock(m_mutex);
                bool settled = true;
                for (qsizetype i = qMax<qint64>(0, looked - m_erased + 1); i < qsizetype(m_samples.size()); ++i) {
                    const qint64 index = m_erased + i;
                    if (at(index) < from || std::abs(m_samples[size_t(i)]) < 300) {
                        if (settled)
                            looked = index;
                        continue;
                    }
                    // What is rejected may be accepted once more has been read after it.
                    if (accept && !accept(i)) {
                        settled = false;
                        continue;
                    }
                    return std::chrono::duration<double, std::milli>(at(index) - from).count();
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
            crossings += (m_samples[size_t(k - 1)] < 0) != (m_samples[size_t(k)] < 0);
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
                if (at(m_erased + qint64(i)) >= from && std::abs(m_samples[i]) >= 300) {
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
    // Near-silences inside sound: runs of samples below about -54 dBFS longer than 2 ms
    // and shorter than 1 s (a pause between songs is longer). Sound that never stays that
    // quiet for 2 ms (the bench songs' steady partials) shows every gap the output left.
    struct Gap {
        Clock::time_point at;
        double ms = 0;
    };
    std::vector<Gap> gaps()
    {
        std::lock_guard lock(m_mutex);
        std::vector<Gap> gaps;
        for (const auto &[index, length] : m_gaps)
            gaps.push_back({ at(index), length * 1000.0 / MonitorRate });
        return gaps;
    }
    // The time of the last sample louder than about -40 dBFS.
    Clock::time_point lastSound()
    {
        std::lock_guard lock(m_mutex);
        return m_lastLoud < 0 ? Clock::time_point{} : at(m_lastLoud);
    }

private:
    static Clock::duration sampleTime(qint64 index)
    {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(index * 1000000 / MonitorRate));
    }
    Clock::time_point at(qint64 index) const { return m_origin + sampleTime(index); }

    void noteQuiet(qint16 value, qint64 index)
    {
        if (std::abs(value) < 64) {
            if (m_quiet++ == 0)
                m_quietFrom = index;
            return;
        }
        if (m_heard && m_quiet >= MonitorRate / 500 && m_quiet < MonitorRate)
            m_gaps.emplace_back(m_quietFrom, m_quiet);
        m_quiet = 0;
        m_heard = true;
    }

    FILE *m_pipe = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{ false };
    std::mutex m_mutex;
    std::vector<qint16> m_samples; // from sample m_erased on
    Clock::time_point m_origin;    // when sample 0 was played
    qint64 m_total = 0;
    qint64 m_erased = 0;
    qint64 m_onset = -1;
    qint64 m_lastLoud = -1;
    qint64 m_quiet = 0;
    qint64 m_quietFrom = 0;
    bool m_heard = false;
    std::vector<std::pair<qint64, qint64>> m_gaps; // first sample, length
};

class QuietBoxes : public MessageBoxes
{
public:
    void inform(QWidget *, const QString &, const QString &) override {}
    bool ask(QWidget *, const QString &, const QString &) override { return answer; }
    bool answer = false;
};

class NoFiles : public SetListDialog
{
public:
    QString fileToOpen(QWidget *, const QString &) override { return {}; }
    QString fileToSave(QWidget *, const QString &) override { return {}; }
};

// The real main window on the real media service (quiet message boxes, no file dialogs),
// the songs in its set list and given a moment to settle.
struct BenchPlayerWindow {
    explicit BenchPlayerWindow(const QStringList &songs)
        : window(Form1Services{ &boxes, &folderDialog, &media, settings.path() + u'/', &media }, &files)
    {
        window.show();
        window.form()->replaceSetList(songs, QStringLiteral("bench"));
        QTest::qWait(1500);
    }
    QTemporaryDir settings;
    QuietBoxes boxes;
    SystemFolderDialog folderDialog;
    NoFiles files;
    MediaService media;
    MainWindow window;
};

// The 60-minute set's songs (made once in argv[2] or beside the program) and the null
// sink they are heard at; no songs when either is missing, with the reason printed.
inline std::pair<QStringList, QString> setAndSink(int argc, char **argv)
{
    char *setArgs[] = { argv[0], const_cast<char *>("1"), argc > 2 ? argv[2] : nullptr };
    const ShowSetBench set = showSetBench(argc > 2 ? 3 : 2, setArgs, QStringLiteral("player-songs"), false);
    const QString sink = qEnvironmentVariable("KORVANDA_TEST_SINK");
    if (set.songs.isEmpty() || sink.isEmpty()) {
        std::printf("needs the songs and a PulseAudio null sink (run inside scripts/session.sh)\n");
        return {};
    }
    return { set.songs, sink };
}

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

inline Figures figures(const std::vector<double> &ms)
{
    Figures f;
    std::vector<double> heard;
    for (double v : ms)
        (v < 0 ? f.missed : (heard.push_back(v), f.missed)) += v < 0 ? 1 : 0;
    f.median = median(heard);
    f.worst = heard.empty() ? 0 : *std::max_element(heard.begin(), heard.end());
    return f;
}

inline void print(const char *what, const Figures &f, int underruns = -1)
{
    std::printf("  %-46s median %6.1f ms  worst %6.1f ms%s%s\n", what, f.median, f.worst,
                f.missed ? qPrintable(QStringLiteral("  (%1 never heard)").arg(f.missed)) : "",
                underruns >= 0 ? qPrintable(QStringLiteral("  underruns %1").arg(underruns)) : "");
}

// The window's press: F5 on the set list's row, timed to the first sound.
inline std::vector<double> windowPresses(MainWindow &window, PlaybackControl &playback, Monitor &monitor, const QStringList &songs,
                                  int presses, bool armed)
{
    std::vector<double> ms;
    auto *play = window.findChild<QAction *>(QStringLiteral("playSetListAction"));
    auto *stop = window.form()->findChild<QPushButton *>(QStringLiteral("Command30"));
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
