#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <vector>

// Copies the files of one export onto their device at the device's own pace.
//
// Files are created one after another, in the order copy() is called, straight
// under their final names: many players play a FAT folder in the order its
// entries were created, so each entry must be born under its real name, in turn.
// Every piece written is handed to the device at once, and no more than
// InFlightBytes are written but not yet on the device: the oldest pieces are
// waited for while newer ones are under way. The device never idles between
// songs, and what is reported as written has really reached it (a kernel would
// otherwise take hundreds of megabytes from a slow stick into memory, and a bar
// counting those would stand at the end while the stick is still being written).
// finish() then flushes every file and the folder once.
//
// A failed or aborted copy removes what it wrote, so the destination never
// holds a half song that would play as if it were whole.
class DurableCopy
{
public:
    enum class Outcome { Copied, Aborted, Failed };

    struct Result
    {
        Outcome outcome = Outcome::Failed;
        QString reason;   // the system's reason when Failed
        int file = -1;    // the file (in copy order) that failed; -1: the device or folder
        [[nodiscard]] bool ok() const { return outcome == Outcome::Copied; }
    };

    // Bytes that have just reached the device.
    using OnDevice = std::function<void(qint64 bytes)>;
    // A file (in copy order) all of whose bytes are on the device; files land in order.
    using Landed = std::function<void(int file)>;

    explicit DurableCopy(OnDevice onDevice = {}, Landed landed = {});
    // Closes what is still open; bytes still in flight are left to the kernel.
    ~DurableCopy();
    DurableCopy(const DurableCopy &) = delete;
    DurableCopy &operator=(const DurableCopy &) = delete;

    // Copies source to destination, replacing a file already there, and returns
    // once every byte is written (not necessarily on the device yet). abort, when
    // given, is looked at between pieces. A failure may also name an earlier file
    // whose bytes did not reach the device; that file and every later one are
    // removed then.
    [[nodiscard]] Result copy(const QString &source, const QString &destination,
                              const std::atomic_bool *abort = nullptr);

    // Waits for everything in flight, then flushes every file copied and the
    // folder they were created in, so that all of it survives the stick being
    // pulled out. Returns the first failure.
    [[nodiscard]] Result finish(const QString &folder);

    // Flushes a folder's entries (the names created in it) to its device.
    // Returns the system's reason, empty on success.
    [[nodiscard]] static QString syncFolder(const QString &folder);

    // Pieces small enough that the bound stays a few of them and the progress
    // moves often, large enough that the kernel still moves big blocks.
    static constexpr qint64 PieceBytes = 1024 * 1024;
    // Enough in flight to keep a device's queue full, little enough that a bar
    // counting what reached the device is never far behind the truth.
    static constexpr qint64 InFlightBytes = 8 * 1024 * 1024;

private:
    struct File
    {
        QByteArray name;
        int fd = -1;
        qint64 written = 0;
        qint64 onDevice = 0;
        bool complete = false;   // every byte written
        bool removed = false;
    };
    struct Piece
    {
        int file;
        qint64 offset;
        qint64 length;
    };

    // Hands a piece to the device and waits for older ones beyond the bound.
    [[nodiscard]] Result push(int file, qint64 offset, qint64 length);
    [[nodiscard]] Result waitOldest();
    // Removes the file and every later one, and forgets what they had in flight.
    void removeFrom(int file);
    // Reports the files whose bytes are all on the device, in order.
    [[nodiscard]] Result land();
    [[nodiscard]] Result failure(int file, int error, Outcome outcome = Outcome::Failed);

    OnDevice m_onDevice;
    Landed m_landed;
    std::vector<File> m_files;
    std::deque<Piece> m_inFlight;
    qint64 m_inFlightBytes = 0;
    int m_nextToLand = 0;
};
