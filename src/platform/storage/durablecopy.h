#pragma once

#include <QString>

#include <atomic>
#include <functional>

// Copies one file straight under its final name and flushes it to its device.
//
// No temporary name and rename: many players play a FAT folder in the order its
// entries were created, so the entry must be born under its real name, in turn.
// A failed or aborted copy removes what it wrote, so the destination never holds
// a half song that would play as if it were whole.
class DurableCopy
{
public:
    enum class Outcome { Copied, Aborted, Failed };

    struct Result
    {
        Outcome outcome = Outcome::Failed;
        QString reason;   // the system's reason when Failed
        [[nodiscard]] bool ok() const { return outcome == Outcome::Copied; }
    };

    // Called after every chunk with the bytes that chunk added.
    using Progress = std::function<void(qint64 bytes)>;

    // Copies source to destination, replacing a file already there. abort, when
    // given, is looked at between chunks.
    [[nodiscard]] static Result copy(const QString &source, const QString &destination,
                                     const Progress &progress = {},
                                     const std::atomic_bool *abort = nullptr);

    // Flushes a folder's entries (the names created in it) to its device.
    // Returns the system's reason, empty on success.
    [[nodiscard]] static QString syncFolder(const QString &folder);

    // Chunk size of the copy, so that progress and abort are seen often enough
    // while the kernel still moves large blocks.
    static constexpr qint64 ChunkBytes = 8 * 1024 * 1024;
};
