#pragma once

#include "model/songedits.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Edits an MP3 without encoding it again, for the edits that its own frames
// can carry exactly (ExportFormat::mp3EditStaysLossless): a new start and end,
// fades. The frames are cut at their edges, keeping the two granules before
// the first sample that the decoder's overlap needs; the bytes of the bit
// reservoir the first kept frame reads go into one silent frame put before
// it. The new encoder delay and padding in the LAME tag tell a gapless decoder
// which samples are the song; the Xing header's frame count and seek table,
// the tag's music length and both checksums are written anew. Fades are the
// frames' gain fields, stepped per granule.
class Mp3Edit
{
public:
    enum class Outcome {
        Written,
        NotCuttable,   // no stream of frames to cut (free format, no LAME header, ...): encode instead
        Failed,        // reading or writing failed; the reason is set
    };
    static Outcome write(const QString &source, const SongEdits &edits, int gainSteps, const QString &destination,
                         QString *reason);

    // Whether the export keeps this MP3's frames with these edits: the edits
    // are of the kind its frames carry and the file can be cut for them (a
    // LAME or FFmpeg header, a lead the tag's delay can cover). Reads the
    // whole file: for the set list row, off the window's thread.
    [[nodiscard]] static bool keepsFrames(const QString &path, const SongEdits &edits);

    // The edited stream, or nothing when these bytes cannot be cut as asked.
    [[nodiscard]] static std::optional<QByteArray> edit(const QByteArray &bytes, const SongEdits &edits, int gainSteps);
};
