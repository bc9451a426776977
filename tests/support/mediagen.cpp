#include "support/mediagen.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {
// Noise bursts every half second make a VBR encoder change its bitrate from frame to frame;
// a pure tone would come out nearly constant.
const QString VaryingSource =
    u"aevalsrc=0.4*sin(660*2*PI*t)+if(gt(mod(t\\,1)\\,0.5)\\,0.4*(random(0)-0.5)\\,0):s=44100"_s;

QString lavfiSine(int hz, double seconds, int rate = 44100)
{
    return u"sine=frequency=%1:sample_rate=%2:duration=%3"_s.arg(hz).arg(rate).arg(seconds, 0, 'f', 3);
}

bool ffmpeg(const QStringList &args)
{
    return MediaGen::run(u"ffmpeg"_s, QStringList{u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s} + args);
}

bool coverImage(const QString &path)
{
    if (QFileInfo::exists(path))
        return true;
    // Noise compresses badly, so the cover makes a tag of a few hundred kilobytes.
    return ffmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"nullsrc=s=400x400,geq=random(1)*255:128:128"_s,
                   u"-frames:v"_s, u"1"_s, path});
}
} // namespace

QStringList MediaGen::missingTools()
{
    QStringList missing;
    for (const QString &tool : {u"ffmpeg"_s, u"lame"_s, u"sox"_s}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing.append(tool);
    }
    return missing;
}

bool MediaGen::run(const QString &program, const QStringList &arguments, QByteArray *out, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(out ? QProcess::SeparateChannels : QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForStarted())
        return false;
    QByteArray collected;
    while (!p.waitForFinished(100)) {
        collected += p.readAllStandardOutput();
        if (p.state() == QProcess::NotRunning)
            break;
        if ((timeoutMs -= 100) <= 0) {
            p.kill();
            p.waitForFinished();
            return false;
        }
    }
    collected += p.readAllStandardOutput();
    if (out)
        *out = collected;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool MediaGen::tone(const QString &path, double seconds, int hz)
{
    return ffmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, lavfiSine(hz, seconds), u"-ac"_s, u"2"_s, path});
}

QList<MediaGen::Kind> MediaGen::corpusKinds()
{
    return {
        {u"mp3-cbr-info"_s, u"mp3"_s},   {u"mp3-cbr-plain"_s, u"mp3"_s}, {u"mp3-vbr-xing"_s, u"mp3"_s},
        {u"mp3-vbr-plain"_s, u"mp3"_s},  {u"mp3-vbr-cover"_s, u"mp3"_s}, {u"mp3-xing-cover"_s, u"mp3"_s},
        {u"wav"_s, u"wav"_s},            {u"aac-m4a"_s, u"m4a"_s},       {u"aac-adts"_s, u"aac"_s},
        {u"vorbis"_s, u"ogg"_s},         {u"flac"_s, u"flac"_s},         {u"opus"_s, u"opus"_s},
        {u"wma"_s, u"wma"_s},            {u"ac3"_s, u"ac3"_s},           {u"mp2"_s, u"mp2"_s},
    };
}

std::optional<QString> MediaGen::corpusFile(const QString &folder, const Kind &kind, double seconds)
{
    const QString path = QDir(folder).filePath(kind.name + u'.' + kind.extension);
    const QString wav = QDir(folder).filePath(kind.name + u"-source.wav"_s);
    const QString secs = QString::number(seconds, 'f', 3);
    auto source = [&](bool varying) {
        return ffmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, varying ? VaryingSource : lavfiSine(880, seconds), u"-t"_s,
                       secs, u"-ac"_s, u"2"_s, wav});
    };
    auto lame = [&](const QStringList &args, const QString &out) {
        return source(args.contains(u"-V"_s)) && run(u"lame"_s, QStringList{u"--quiet"_s} + args + QStringList{wav, out});
    };
    auto encode = [&](const QStringList &codec) {
        return ffmpeg(QStringList{u"-f"_s, u"lavfi"_s, u"-i"_s, lavfiSine(880, seconds)} + codec + QStringList{path});
    };
    auto withCover = [&](const QString &plain, bool xing) {
        const QString cover = QDir(folder).filePath(u"cover.png"_s);
        return coverImage(cover)
            && ffmpeg({u"-i"_s, plain, u"-i"_s, cover, u"-map"_s, u"0"_s, u"-map"_s, u"1"_s, u"-c"_s, u"copy"_s,
                       u"-id3v2_version"_s, u"3"_s, u"-write_xing"_s, xing ? u"1"_s : u"0"_s,
                       u"-metadata:s:v"_s, u"comment=Cover (front)"_s, path});
    };
    const QString plain = QDir(folder).filePath(kind.name + u"-plain.mp3"_s);
    bool ok = false;
    if (kind.name == "mp3-cbr-info"_L1)
        ok = lame({u"-b"_s, u"128"_s}, path);
    else if (kind.name == "mp3-cbr-plain"_L1)
        ok = lame({u"-b"_s, u"128"_s, u"-t"_s}, path);
    else if (kind.name == "mp3-vbr-xing"_L1)
        ok = lame({u"-V"_s, u"4"_s}, path);
    else if (kind.name == "mp3-vbr-plain"_L1)
        ok = lame({u"-V"_s, u"4"_s, u"-t"_s}, path);
    else if (kind.name == "mp3-vbr-cover"_L1)
        ok = lame({u"-V"_s, u"4"_s, u"-t"_s}, plain) && withCover(plain, false);
    else if (kind.name == "mp3-xing-cover"_L1)
        ok = lame({u"-V"_s, u"4"_s, u"-t"_s}, plain) && withCover(plain, true);
    else if (kind.name == "wav"_L1)
        ok = encode({u"-c:a"_s, u"pcm_s16le"_s});
    else if (kind.name == "aac-m4a"_L1)
        ok = encode({u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"128k"_s});
    else if (kind.name == "aac-adts"_L1)
        ok = encode({u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"128k"_s, u"-f"_s, u"adts"_s});
    else if (kind.name == "vorbis"_L1)
        ok = encode({u"-c:a"_s, u"libvorbis"_s});
    else if (kind.name == "flac"_L1)
        ok = encode({u"-c:a"_s, u"flac"_s});
    else if (kind.name == "opus"_L1)
        ok = encode({u"-c:a"_s, u"libopus"_s});
    else if (kind.name == "wma"_L1)
        ok = encode({u"-c:a"_s, u"wmav2"_s});
    else if (kind.name == "ac3"_L1)
        ok = encode({u"-c:a"_s, u"ac3"_s});
    else if (kind.name == "mp2"_L1)
        ok = encode({u"-c:a"_s, u"mp2"_s});
    QFile::remove(wav);
    QFile::remove(plain);
    if (!ok)
        return std::nullopt;
    return path;
}

std::optional<double> MediaGen::decodedLengthMs(const QString &path)
{
    QByteArray pcm;
    if (!run(u"ffmpeg"_s,
             {u"-nostdin"_s, u"-v"_s, u"error"_s, u"-i"_s, path, u"-map"_s, u"0:a:0"_s, u"-ac"_s, u"1"_s, u"-ar"_s,
              u"48000"_s, u"-f"_s, u"s16le"_s, u"-"_s},
             &pcm))
        return std::nullopt;
    return double(pcm.size() / 2) / 48.0;
}

qint64 MediaGen::shownSeconds(double ms)
{
    return qint64(std::nearbyint(ms)) / 1000;
}

bool MediaGen::sameShownLength(double probedMs, double decodedMs)
{
    const qint64 probed = shownSeconds(probedMs);
    const qint64 decoded = shownSeconds(decodedMs);
    if (probed == decoded)
        return true;
    const double nearest = std::round(decodedMs / 1000.0) * 1000.0;
    return std::abs(decodedMs - nearest) <= 50.0 && std::abs(probed - decoded) == 1;
}
