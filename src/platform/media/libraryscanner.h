#pragma once

#include <QFuture>
#include <QList>
#include <QStringList>

class MediaCommands;

// The slow half of the library scan: listing the source folder and probing every entry's
// play length, in parallel and off the UI thread.
class LibraryScanner
{
public:
    // Every entry name of `folder` in the file system's own order, hidden and system entries
    // (FIFOs, sockets, broken links) included, "." and ".." left out. A name that is not valid
    // in the system's encoding arrives with replacement characters and simply probes as 0.
    [[nodiscard]] static QStringList listFolder(const QString &folder);

    // How many probes should read at once from the storage holding `folder`: about two on a
    // rotating disk (more only makes its head seek), several on solid-state storage.
    [[nodiscard]] static int readerCountFor(const QString &folder);

    // GetPlayLength of every path, results in input order (0 for anything unplayable). The
    // future reports progress as entries done of paths.size() and honours cancel; a cancelled
    // future carries no result. `media` must outlive the future and be safe to call from
    // several threads. `readers` <= 0 picks readerCountFor() of the first path's folder.
    [[nodiscard]] static QFuture<QList<double>> probeAll(MediaCommands &media, const QStringList &paths,
                                                         int readers = 0);

    // The same for the entries `names` of `folder` (paths[i] being names[i]'s path), but an
    // entry unchanged since the last scan takes the length that scan found, kept under
    // `cacheRoot` (an empty root keeps nothing), and the lengths are kept for the next scan.
    // A cancelled scan keeps nothing.
    // The calling thread looks at the entries itself for `inlineMs` (at least 16 entries): a
    // rescan of an unchanged folder is over in a few milliseconds, less than waking an idle
    // core takes on some machines, and it returns a finished future. A slow or large folder
    // goes on in the background, with the window repainting and the scan able to be cancelled.
    static constexpr int InlineMs = 20;
    [[nodiscard]] static QFuture<QList<double>> probeFolder(MediaCommands &media, const QString &folder,
                                                            const QStringList &names, const QStringList &paths,
                                                            const QString &cacheRoot, int readers = 0,
                                                            int inlineMs = InlineMs);
};
