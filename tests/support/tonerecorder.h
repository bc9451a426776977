#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

// Records what the test's PulseAudio null sink plays (its monitor, through parec) and measures
// whether the recording holds a given tone.
class ToneRecorder
{
public:
    static constexpr int SampleRate = 48000;

    struct Measurement {
        double rms = 0;        // of the whole recording, full scale = 32768
        double toneShare = 0;  // share of the signal's power at the tone's frequency (0..1)
        double frequency = 0;  // estimated from zero crossings
    };

    // The null sink's name from KORVANDA_TEST_SINK, empty when the test runs without one.
    [[nodiscard]] static QString sinkFromEnvironment();

    explicit ToneRecorder(const QString &sink);
    ~ToneRecorder();

    bool start();
    // Stops recording and returns mono 16-bit samples at SampleRate.
    QByteArray stop();

    // Records until `audioMs` of sound have arrived or `timeoutMs` have passed, keeping the
    // event loop running. The monitor of an idle null sink delivers nothing at all, so a
    // recording of silence may come back short or empty.
    QByteArray record(int audioMs, int timeoutMs);

    [[nodiscard]] static Measurement measure(const QByteArray &pcm, double toneHz);

private:
    QString m_sink;
    QProcess m_process;
};
