#include "support/sinkrecorder.h"

#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// The power of one frequency in a block of samples (the Goertzel filter).
double power(const qint16 *samples, qsizetype n, int hz)
{
    const double k = 2 * std::cos(2 * M_PI * hz / SinkRecorder::Rate);
    double s1 = 0, s2 = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const double s0 = samples[i] + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return (s1 * s1 + s2 * s2 - k * s1 * s2) / double(qMax<qsizetype>(1, n));
}

// The one of `hz` loudest in the block; 0 for none.
int loudest(const qint16 *samples, qsizetype n, const QList<int> &hz)
{
    int found = 0;
    double best = 0;
    for (int f : hz)
        if (const double p = power(samples, n, f); p > best)
            best = p, found = f;
    return found;
}

} // namespace

QByteArray SinkRecorder::take()
{
    m_parec.waitForReadyRead(100);
    return m_parec.readAllStandardOutput();
}

SinkRecorder::SinkRecorder(const QString &sink)
{
    m_parec.start(u"parec"_s, { u"-d"_s, sink + u".monitor"_s, u"--raw"_s, u"--format=s16le"_s,
                                u"--rate=%1"_s.arg(Rate), u"--channels=1"_s, u"--latency-msec=20"_s });
    m_parec.waitForStarted();
}

SinkRecorder::~SinkRecorder()
{
    m_parec.kill();
    m_parec.waitForFinished();
}

QList<int> SinkRecorder::tones(const QList<int> &hz, int windowMs)
{
    const QByteArray bytes = take();
    const auto *samples = reinterpret_cast<const qint16 *>(bytes.constData());
    const qsizetype count = bytes.size() / 2;
    const qsizetype window = qMin<qsizetype>(count, qint64(Rate) * windowMs / 1000);
    QList<int> heard;
    for (qsizetype at = 0; window > 0 && at + window <= count; at += window) {
        double sum = 0;
        for (qsizetype i = at; i < at + window; ++i)
            sum += double(samples[i]) * samples[i];
        // Quieter than about -50 dBFS is silence.
        heard.append(std::sqrt(sum / double(window)) < 100 ? 0 : loudest(samples + at, window, hz));
    }
    return heard;
}

QList<SinkRecorder::Sound> SinkRecorder::sounds(const QList<int> &hz, int gapMs)
{
    const QByteArray bytes = take();
    const auto *samples = reinterpret_cast<const qint16 *>(bytes.constData());
    const qsizetype count = bytes.size() / 2;
    const qsizetype gap = qint64(Rate) * gapMs / 1000;
    const auto ms = [](qsizetype sample) { return double(sample) * 1000.0 / Rate; };
    QList<Sound> found;
    qsizetype first = -1, last = -1;
    const auto close = [&] { found.append({ ms(first), ms(last + 1), loudest(samples + first, last + 1 - first, hz) }); };
    for (qsizetype i = 0; i < count; ++i) {
        // A sine passes through zero twice a cycle: only a longer quiet ends a sound.
        if (std::abs(int(samples[i])) < 300)
            continue;
        if (first >= 0 && i - last > gap) {
            close();
            first = -1;
        }
        if (first < 0)
            first = i;
        last = i;
    }
    if (first >= 0)
        close();
    return found;
}

QList<double> SinkRecorder::levels(int windowMs)
{
    const QByteArray bytes = take();
    const auto *samples = reinterpret_cast<const qint16 *>(bytes.constData());
    const qsizetype window = qMax<qsizetype>(1, qint64(Rate) * windowMs / 1000);
    QList<double> found;
    for (qsizetype at = 0; at + window <= bytes.size() / 2; at += window) {
        double sum = 0;
        for (qsizetype i = at; i < at + window; ++i)
            sum += double(samples[i]) * samples[i];
        found.append(std::sqrt(sum / double(window)) / 32768.0);
    }
    return found;
}

double SinkRecorder::levelDb()
{
    const QByteArray bytes = take();
    const auto *samples = reinterpret_cast<const qint16 *>(bytes.constData());
    const qsizetype window = Rate / 20;
    double sum = 0;
    qsizetype counted = 0;
    for (qsizetype at = 0; at + window <= bytes.size() / 2; at += window) {
        double part = 0;
        for (qsizetype i = at; i < at + window; ++i)
            part += double(samples[i]) * samples[i];
        if (std::sqrt(part / double(window)) >= 100) {
            sum += part;
            counted += window;
        }
    }
    return counted ? 10 * std::log10(sum / double(counted) / (32768.0 * 32768.0)) : -INFINITY;
}

bool SinkRecorder::hears(const QString &sink, int hz, const QList<int> &others, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 300) {
        SinkRecorder take(sink);
        QTest::qWait(300);
        if (take.tone(QList<int>{ hz } + others) == hz)
            return true;
    }
    return false;
}

QList<int> SinkRecorder::runs(const QList<int> &tones)
{
    QList<int> result;
    for (int t : tones)
        if (result.isEmpty() || result.last() != t)
            result.append(t);
    return result;
}
