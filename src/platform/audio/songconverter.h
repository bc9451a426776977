#pragma once

#include "model/exportplan.h"

#include <QString>

#include <atomic>

// Writes one song of the export as its conversion says: an MP3 with its frames'
// gain moved, a WAV, FLAC or AIFF written again in its own format, or a new MP3
// or WAV, each through the one audio path (decoder, gain, file writer).
class SongConverter
{
public:
    // Writes `destination` (a new file) from `source`; `title` goes into the
    // tags of a new MP3 or WAV. On failure or abort no file is left behind
    // and the reason, worded for the user, is set (empty when aborted).
    static bool convert(const QString &source, const SongConversion &conversion, const QString &title,
                        const QString &destination, const std::atomic_bool *abort, QString *reason);
};
