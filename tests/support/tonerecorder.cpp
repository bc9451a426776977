#include "support/tonerecorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>
#include <numbers>
#include <vector>

using namespace Qt::StringLiterals;

QString ToneRecorder::sinkFromEnvironment()
{
    return qEnvironmentVariable("KORVANDA_TEST_SINK");
}

ToneRecorder::ToneRecorder(const QString &sink) : m_sink(sink) {}

ToneRecorder::~ToneRecorder()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

bool ToneRecorder::start()
{
    m_process.start(u"parec"_s, {u"--device="_s + m_sink + u".monitor"_s, u"--format=s16le"_s,
                                 u"--rate=%1"_s.arg(SampleRate), u"--channels=1"_s, u"--latency-msec=20"_s,
                                 u"--raw"_s});
    return m_process.waitForStarted();
}

QByteArray ToneRecorder::stop()
{
    QByteArray pcm = m_process.readAllStandardOutput();
    m_process.terminate();
    m_process.waitForFinished(5000);
    pcm += m_process.readAllStandardOutput();
    pcm.truncate(pcm.size() & ~qsizetype(1));
    return pcm;
}

QByteArray ToneRecorder::record(int audioMs, int timeoutMs)
{
    if (!start())
        return {};
    const qsizetype wanted = qsizetype(audioMs) * SampleRate / 1000 * 2;
    QByteArray pcm;
    QElapsedTimer clock;
    clock.start();
    while (pcm.size() < wanted && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        m_process.waitForReadyRead(20);
        pcm += m_process.readAllStandardOutput();
    }
    pcm += stop();
    return pcm.left(wanted);
}

ToneRecorder::Measurement ToneRecorder::measure(const QByteArray &pcm, double toneHz)
{
    Measurement m;
    const qsizetype n = pcm.size() / 2;
    if (n == 0)
        return m;
    std::vector<double> x(static_cast<std::size_t>(n));
    const auto *s = reinterpret_cast<const qint16 *>(pcm.constData());
    double energy = 0;
    for (qsizetype i = 0; i < n; ++i) {
        x[std::size_t(i)] = s[i];
        energy += double(s[i]) * s[i];
    }
    m.rms = std::sqrt(energy / double(n));
    // Goertzel over the whole recording: the power in the tone's bin, compared with the
    // signal's power (Parseval) gives the tone's share of everything recorded.
    const double w = 2.0 * std::numbers::pi * toneHz / SampleRate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (double v : x) {
        const double s0 = v + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double binPower = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    if (energy > 0)
        m.toneShare = qMin(1.0, 2.0 * binPower / (double(n) * energy));
    qsizetype crossings = 0;
    for (qsizetype i = 1; i < n; ++i) {
        if ((x[std::size_t(i - 1)] < 0) != (x[std::size_t(i)] < 0))
            ++crossings;
    }
    m.frequency = double(crossings) / 2.0 / (double(n) / SampleRate);
    return m;
}
