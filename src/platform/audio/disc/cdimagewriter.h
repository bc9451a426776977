#pragma once

#include "model/cdlayout.h"
#include "model/songedits.h"

#include <QString>
#include <QStringList>

#include <functional>

// Writes an audio CD's image: one raw .bin (44.1 kHz, 16-bit, stereo, little
// endian, whole sectors) and the .cue beside it that any burning program
// reads. The songs are decoded on all cores and written in order; both files
// appear only when the image is whole, so a cancel or a failure leaves nothing.
class CdImageWriter
{
public:
    struct Request {
        QStringList paths;     // in playing order
        CdText text;
        int gapSeconds = 2;    // between tracks; 0 for none
        QString cuePath;       // the .bin lies beside it, named alike
        qint64 capacitySectors = CdLayout::Disc80Sectors;
        qint64 expectedBytes = 0;  // the checked layout's image size, for progress
        QList<float> gains;        // linear, per song; empty for none
        QList<SongEdits> edits;    // per song; missing or empty: the song as it is
    };
    struct Result {
        enum class Outcome { Written, Cancelled, Failed };
        Outcome outcome = Outcome::Written;
        int failedSong = -1;   // -1: the files themselves failed
        QString reason;
        CdLayout layout;       // of what was written
    };
    // Told the song being written and the bytes written of those expected.
    using Progress = std::function<void(int song, qint64 bytes, qint64 total)>;
    using Cancelled = std::function<bool()>;

    [[nodiscard]] static Result write(const Request &request, const Progress &progress, const Cancelled &cancelled);

    // "set.cue" -> "set.bin"; "Live at "Club".cue" -> "Live at 'Club'.bin",
    // the name its cue sheet can give it.
    [[nodiscard]] static QString binPathFor(const QString &cuePath);
};
