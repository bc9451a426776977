// Writes the fuzzer's seed corpus: one short file of every kind the probe must read, each with
// the leading byte that makes the fuzz target give it its own extension back, and set lists.
//
// usage: fuzz_seeds <folder>
#include "support/mediagen.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
        return 2;
    }
    if (const QStringList missing = MediaGen::missingTools(); !missing.isEmpty()) {
        std::fprintf(stderr, "missing tools: %s\n", qPrintable(missing.join(u", "_s)));
        return 1;
    }
    // Must match the fuzz target's table.
    const QStringList extensions = {u"mp3"_s, u"aac"_s, u"m4a"_s, u"ogg"_s, u"flac"_s,
                                    u"wav"_s, u"opus"_s, u"wma"_s, u"ac3"_s, u"mp2"_s};
    const QString out = QFile::decodeName(argv[1]);
    QDir().mkpath(out);
    QTemporaryDir work;
    int written = 0;
    for (const MediaGen::Kind &kind : MediaGen::corpusKinds()) {
        const qsizetype index = extensions.indexOf(kind.extension);
        if (index < 0)
            continue;
        // Short files keep each run fast; the odd length leaves a partial last frame.
        const auto file = MediaGen::corpusFile(work.path(), kind, 0.37);
        if (!file)
            continue;
        QFile in(*file);
        if (!in.open(QIODevice::ReadOnly))
            continue;
        QByteArray bytes = in.readAll();
        // Uncompressed audio is large for its length; the start and the end are what matter.
        if (bytes.size() > 120 * 1024)
            bytes = bytes.left(120 * 1024);
        QFile seed(QDir(out).filePath(kind.name + u".seed"_s));
        if (seed.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            seed.write(QByteArray(1, char(index)) + bytes);
            ++written;
        }
        QFile::remove(*file);
    }
    // Set lists as this program and Windows players write them, with every kind of line end.
    const QByteArray lists[] = {
        "#EXTM3U\n#PLAYLIST:Live\n#KORVANDA-SLOT:00:45:00\n#KORVANDA-PAUSE:10\n#EXTINF:215,Opening\nOpening.mp3\n",
        "#EXTM3U\r\n#EXTINF:61,\x96\xe9\r\r\nD:\\Songs\\b.mp3\r#EXTINF:-1,c\rc.mp3\r\n",
        "#EXTM3U\n#EXTINF:200,a\n#KORVANDA-EDIT:start=1.500;end=190.250;fadeout=8.000;cut=60.000-75.125;key=-2;tempo=95;"
        "file=1234@1700000000000\n#EXTVLCOPT:start-time=1.500\n#KORVANDA-NOTE:MC後\n#KORVANDA-FOLLOW\na.mp3\n"
        "#EXTVLCOPT:start-time=12.5\n#EXTVLCOPT:stop-time=200\nb.mp3\n",
    };
    for (const QByteArray &list : lists) {
        QFile seed(QDir(out).filePath(u"setlist-%1.seed"_s.arg(written)));
        if (seed.open(QIODevice::WriteOnly | QIODevice::Truncate) && seed.write(list) == list.size())
            ++written;
    }
    std::printf("%d seeds in %s\n", written, qPrintable(out));
    return written > 0 ? 0 : 1;
}
