#pragma once

#include <QString>

#include <optional>

// The play length of a media file in milliseconds, or nothing for anything that is not a
// playable regular file. Reentrant: the scan calls it from several threads at once.
class MediaProbe
{
public:
    // Best is what the program uses; the single-library methods exist so the benchmark can
    // show what each library alone would report, and Unbuffered gives Best's figures the way
    // they were read before the probe held each file's head and tail (the libraries reading
    // the descriptor themselves), so the benchmark can show what holding them saves.
    enum class Method { Best, TagLibOnly, LibavOnly, Unbuffered };

    // Changes whenever a length the probe reports for some file changes, so that lengths
    // kept from an earlier probe are not taken for today's.
    static constexpr quint32 Version = 1;

    [[nodiscard]] static std::optional<double> lengthMs(const QString &path, Method method = Method::Best);
    // The same for a file already opened and checked to be a regular file of `size` bytes;
    // `path` serves only as a hint to the file's format.
    [[nodiscard]] static std::optional<double> lengthMs(int fd, qint64 size, const QString &path,
                                                        Method method = Method::Best);
};
