#pragma once

#include <QList>
#include <QProcess>
#include <QString>

// Records what a PulseAudio sink plays, through its monitor, from construction
// until tones() is asked. Recording runs beside the event loop, so the program
// under test goes on working while it is heard.
class SinkRecorder
{
public:
    explicit SinkRecorder(const QString &sink);
    ~SinkRecorder();
    SinkRecorder(const SinkRecorder &) = delete;
    SinkRecorder &operator=(const SinkRecorder &) = delete;

    // Waits for the first samples: a recorder just started on a busy machine may
    // take a while to hear anything, and a sound it missed the start of seems late.
    bool waitUntilRecording(int timeoutMs = 3000) { return m_parec.waitForReadyRead(timeoutMs); }
    // What was heard, one entry per `windowMs` of the recording: the loudest of
    // `hz`, or 0 where the sink was silent.
    [[nodiscard]] QList<int> tones(const QList<int> &hz, int windowMs = 250);
    // The same, one window for the whole recording.
    [[nodiscard]] int tone(const QList<int> &hz) { return tones(hz, 1 << 30).value(0); }

    // The level of what was heard so far, one entry per `windowMs`: its RMS, 1 at full scale.
    [[nodiscard]] QList<double> levels(int windowMs);
    // The level of what was heard so far, in dBFS (RMS), its silences left out.
    [[nodiscard]] double levelDb();
    // Listens in short takes until `hz` is what the sink plays, or the time is up.
    static bool hears(const QString &sink, int hz, const QList<int> &others, int timeoutMs = 4000);
    // Each sound heard so far, read off the samples themselves: from the first
    // sample above about -40 dBFS to the last before a silence of `gapMs`, in
    // milliseconds of the recording, with the loudest of `hz` over it.
    struct Sound
    {
        double startMs = 0;
        double endMs = 0;
        int hz = 0;
    };
    [[nodiscard]] QList<Sound> sounds(const QList<int> &hz, int gapMs = 30);
    // Runs of the same tone once, e.g. {440, 0, 880} for a tone, a silence, another.
    [[nodiscard]] static QList<int> runs(const QList<int> &tones);

    static constexpr int Rate = 16000;

private:
    // What was recorded since the last look.
    QByteArray take();
    QProcess m_parec;
};
