#include "support/mediagen.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cmath>
#ifdef Q_OS_WIN
#include <winsock2.h>
#include <windows.h>
#endif

using namespace Qt::StringLiterals;

namespace {

QString lavfiSine(int hz, double seconds)
{
    return u"sine=frequency=%1:sample_rate=44100:duration=%2"_s.arg(hz).arg(seconds, 0, 'f', 3);
}

#ifdef Q_OS_WIN
// The tool bridge: one request (a JSON line) per connection to the port in
// KORVANDA_TOOL_BRIDGE, answered by one line with the exit status and the output. Arguments that
// are Windows paths are handed over as the Linux paths Wine maps them to.
QByteArray bridgeRequest(const QJsonObject &request)
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    const quint16 port = quint16(qEnvironmentVariableIntValue("KORVANDA_TOOL_BRIDGE"));
    if (!started || port == 0)
        return {};
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return {};
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray answer;
    if (::connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0) {
        const QByteArray line = QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n';
        if (::send(s, line.constData(), int(line.size()), 0) == int(line.size())) {
            char buffer[65536];
            for (int n; (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;)
                answer.append(buffer, n);
        }
    }
    ::closesocket(s);
    return answer;
}

QString unixPath(const QString &argument)
{
    static const QRegularExpression windowsPath(u"^[A-Za-z]:[\\\\/]"_s);
    if (!windowsPath.match(argument).hasMatch())
        return argument;
    using ToUnix = char *(CDECL *)(const wchar_t *);
    static const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void *>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char *linuxPath = toUnix ? toUnix(reinterpret_cast<const wchar_t *>(argument.utf16())) : nullptr;
    if (!linuxPath)
        return argument;
    const QString converted = QString::fromUtf8(linuxPath);
    ::HeapFree(::GetProcessHeap(), 0, linuxPath);
    return converted;
}

bool bridgeRun(const QString &program, const QStringList &arguments, QByteArray *out, int timeoutMs, bool merged)
{
    QJsonArray args;
    for (const QString &a : arguments)
        args.append(unixPath(a));
    const QJsonObject answer = QJsonDocument::fromJson(bridgeRequest({ { u"program"_s, program },
                                                                       { u"args"_s, args },
                                                                       { u"merged"_s, merged },
                                                                       { u"timeout"_s, timeoutMs / 1000.0 } }))
                                   .object();
    if (out)
        *out = QByteArray::fromBase64(answer.value(u"out"_s).toString().toLatin1());
    return answer.value(u"exit"_s).toInt(-1) == 0;
}
#endif

} // namespace

bool MediaGen::ffmpeg(const QStringList &args, QByteArray *out)
{
    return run(u"ffmpeg"_s, QStringList{ u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s } + args, out);
}

QString MediaGen::music(int rate, double seconds)
{
    const QString fade = u"min(1\\,%1-t)"_s.arg(seconds);
    return u"aevalsrc=(0.35*sin(440*2*PI*t)+0.15*sin(5200*2*PI*t))*(0.6+0.4*sin(t))*%1|"
           u"(0.3*sin(660*2*PI*t)+0.1*sin(9100*2*PI*t))*%1:s=%2:d=%3"_s.arg(fade).arg(rate).arg(seconds);
}

MediaGen::Meter MediaGen::meter(const QString &path, bool dualMono)
{
    const QString filter = u"ebur128=peak=true:metadata=1%1,ametadata=mode=print:file=-"_s.arg(dualMono ? u":dualmono=true"_s : QString());
    QByteArray printed;
    if (!run(u"ffmpeg"_s, { u"-nostdin"_s, u"-hide_banner"_s, u"-nostats"_s, u"-i"_s, path, u"-map"_s, u"0:a:0"_s, u"-af"_s, filter,
                            u"-f"_s, u"null"_s, u"-"_s },
             &printed, 120000, true))
        return {};
    const QString text = QString::fromUtf8(printed);
    Meter m;
    const auto integrated = QRegularExpression(u"lavfi\\.r128\\.I=(-?[0-9.]+|-inf)"_s).globalMatch(text);
    for (auto it = integrated; it.hasNext();)
        m.lufs = it.next().captured(1).toDouble();
    const auto peak = QRegularExpression(u"Peak:\\s+(-?[0-9.]+|-inf) dBFS"_s).match(text);
    if (peak.hasMatch())
        m.truePeakDb = peak.captured(1) == u"-inf"_s ? -HUGE_VAL : peak.captured(1).toDouble();
    return m;
}

QStringList MediaGen::missingTools(const QStringList &tools)
{
#ifdef Q_OS_WIN
    if (qEnvironmentVariableIsEmpty("KORVANDA_TOOL_BRIDGE"))
        return { u"the tool bridge of scripts/windows/wine-run.sh"_s };
    QStringList missing;
    const QJsonValue answer = QJsonDocument::fromJson(bridgeRequest({ { u"missing"_s, QJsonArray::fromStringList(tools) } }))
                                  .object().value(u"missing"_s);
    if (!answer.isArray())
        return { u"the tool bridge's answer"_s };
    for (const QJsonValue &tool : answer.toArray())
        missing.append(tool.toString());
    return missing;
#else
    QStringList missing;
    for (const QString &tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing.append(tool);
    return missing;
#endif
}

bool MediaGen::run(const QString &program, const QStringList &arguments, QByteArray *out, int timeoutMs, bool merged)
{
#ifdef Q_OS_WIN
    return bridgeRun(program, arguments, out, timeoutMs, merged);
#else
    QProcess p;
    p.setProcessChannelMode(out && !merged ? QProcess::SeparateChannels : QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForStarted())
        return false;
    QByteArray collected;
    // Read as it comes: a decode to raw samples fills the pipe long before it ends.
    for (; !p.waitForFinished(100) && p.state() != QProcess::NotRunning; timeoutMs -= 100) {
        collected += p.readAllStandardOutput();
        if (timeoutMs <= 0) {
            p.kill();
            p.waitForFinished();
            return false;
        }
    }
    if (out)
        *out = collected + p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
#endif
}

bool MediaGen::tone(const QString &path, double seconds, int hz)
{
    return ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, lavfiSine(hz, seconds), u"-ac"_s, u"2"_s, path });
}

bool MediaGen::twoTones(const QString &path, double seconds, int firstHz, int secondHz, double switchAt)
{
    const QString source = u"aevalsrc=0.5*sin(2*PI*if(lt(t\\,%1)\\,%2\\,%3)*t):s=44100:d=%4"_s.arg(switchAt).arg(firstHz).arg(secondHz).arg(seconds);
    return ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, source, u"-ac"_s, u"2"_s, path });
}

QList<MediaGen::Kind> MediaGen::corpusKinds()
{
    return {
        { u"mp3-cbr-info"_s, u"mp3"_s }, { u"mp3-cbr-plain"_s, u"mp3"_s }, { u"mp3-vbr-xing"_s, u"mp3"_s },
        { u"mp3-vbr-plain"_s, u"mp3"_s }, { u"mp3-vbr-cover"_s, u"mp3"_s }, { u"mp3-xing-cover"_s, u"mp3"_s },
        { u"wav"_s, u"wav"_s }, { u"aac-m4a"_s, u"m4a"_s }, { u"aac-adts"_s, u"aac"_s }, { u"vorbis"_s, u"ogg"_s },
        { u"flac"_s, u"flac"_s }, { u"opus"_s, u"opus"_s }, { u"wma"_s, u"wma"_s }, { u"ac3"_s, u"ac3"_s },
        { u"mp2"_s, u"mp2"_s },
    };
}

std::optional<QString> MediaGen::corpusFile(const QString &folder, const Kind &kind, double seconds)
{
    const QDir dir(folder);
    const QString path = dir.filePath(kind.name + u'.' + kind.extension);
    const QString wav = dir.filePath(kind.name + u"-source.wav"_s);
    const QString plain = dir.filePath(kind.name + u"-plain.mp3"_s);
    const QString cover = dir.filePath(u"cover.png"_s);
    bool ok = false;
    if (kind.name.startsWith(u"mp3-"_s)) {
        // Noise bursts every half second make a VBR encoder change its bitrate
        // from frame to frame; a pure tone would come out nearly constant.
        const bool vbr = kind.name.contains(u"vbr"_s) || kind.name.contains(u"cover"_s);
        const QString source = vbr ? u"aevalsrc=0.4*sin(660*2*PI*t)+if(gt(mod(t\\,1)\\,0.5)\\,0.4*(random(0)-0.5)\\,0):s=44100"_s
                                   : lavfiSine(880, seconds);
        QStringList lame{ u"--quiet"_s };
        lame += vbr ? QStringList{ u"-V"_s, u"4"_s } : QStringList{ u"-b"_s, u"128"_s };
        if (kind.name != "mp3-cbr-info"_L1 && kind.name != "mp3-vbr-xing"_L1)
            lame += u"-t"_s; // no Info/Xing header
        const bool withCover = kind.name.endsWith(u"cover"_s);
        ok = ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, source, u"-t"_s, QString::number(seconds, 'f', 3), u"-ac"_s, u"2"_s, wav })
            && run(u"lame"_s, lame + QStringList{ wav, withCover ? plain : path });
        // Noise compresses badly, so the cover makes a tag of a few hundred kilobytes.
        if (ok && withCover)
            ok = (QFileInfo::exists(cover)
                  || ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"nullsrc=s=400x400,geq=random(1)*255:128:128"_s, u"-frames:v"_s, u"1"_s, cover }))
                && ffmpeg({ u"-i"_s, plain, u"-i"_s, cover, u"-map"_s, u"0"_s, u"-map"_s, u"1"_s, u"-c"_s, u"copy"_s,
                            u"-id3v2_version"_s, u"3"_s, u"-write_xing"_s, kind.name.startsWith(u"mp3-xing"_s) ? u"1"_s : u"0"_s,
                            u"-metadata:s:v"_s, u"comment=Cover (front)"_s, path });
    } else {
        static const QHash<QString, QStringList> codecs{
            { u"wav"_s, { u"-c:a"_s, u"pcm_s16le"_s } },
            { u"aac-m4a"_s, { u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"128k"_s } },
            { u"aac-adts"_s, { u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"128k"_s, u"-f"_s, u"adts"_s } },
            { u"vorbis"_s, { u"-c:a"_s, u"libvorbis"_s } }, { u"flac"_s, { u"-c:a"_s, u"flac"_s } },
            { u"opus"_s, { u"-c:a"_s, u"libopus"_s } }, { u"wma"_s, { u"-c:a"_s, u"wmav2"_s } },
            { u"ac3"_s, { u"-c:a"_s, u"ac3"_s } }, { u"mp2"_s, { u"-c:a"_s, u"mp2"_s } },
        };
        ok = codecs.contains(kind.name)
            && ffmpeg(QStringList{ u"-f"_s, u"lavfi"_s, u"-i"_s, lavfiSine(880, seconds) } + codecs[kind.name] + QStringList{ path });
    }
    QFile::remove(wav);
    QFile::remove(plain);
    return ok ? std::optional(path) : std::nullopt;
}

std::optional<double> MediaGen::decodedLengthMs(const QString &path)
{
    QByteArray pcm;
    if (!run(u"ffmpeg"_s, { u"-nostdin"_s, u"-v"_s, u"error"_s, u"-i"_s, path, u"-map"_s, u"0:a:0"_s, u"-ac"_s, u"1"_s, u"-ar"_s,
                            u"48000"_s, u"-f"_s, u"s16le"_s, u"-"_s },
             &pcm))
        return std::nullopt;
    return double(pcm.size() / 2) / 48.0;
}

bool MediaGen::sameShownLength(double probedMs, double decodedMs)
{
    // Whole seconds as the length text shows them: round half to even, then cut.
    const qint64 probed = qint64(std::nearbyint(probedMs)) / 1000;
    const qint64 decoded = qint64(std::nearbyint(decodedMs)) / 1000;
    const double nearest = std::round(decodedMs / 1000.0) * 1000.0;
    return probed == decoded || (std::abs(decodedMs - nearest) <= 50.0 && std::abs(probed - decoded) == 1);
}

QStringList MediaGen::showSet(const QString &folder, bool ownLevels)
{
    if (!QDir().mkpath(folder))
        return {};
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
        const int seconds = 210 + (i * 37) % 61 + (i == 14 ? 2 : 0);
        // Songs at their own levels are named apart, so the two sets can share a folder.
        const QString song = folder + (ownLevels ? u"/%1 Level.%2"_s : u"/%1 Song.%2"_s).arg(i + 1, 2, 10, QLatin1Char('0')).arg(QLatin1StringView(kinds[i].extension));
        if (!QFileInfo::exists(song)
            && !ffmpeg(QStringList{ u"-stream_loop"_s, u"-1"_s, u"-i"_s, piece, u"-t"_s, QString::number(seconds), u"-af"_s,
                                    u"volume=%1dB"_s.arg(ownLevels ? -((i * 7) % 11) : 0) }
                       + kinds[i].codec + QStringList{ song }))
            return {};
        songs << song;
    }
    return songs;
}
