// Feeds arbitrary bytes to the length probe, to the MPEG, ADTS and AC-3 frame counters
// directly, to the reader of the kept lengths and to the set-list reader.
// The probe picks its reader by content and by the file's extension, so the first byte of the
// input chooses the extension and the rest becomes the file.
#include "platform/media/ac3framecounter.h"
#include "platform/media/adtsframecounter.h"
#include "platform/media/lengthcache.h"
#include "platform/media/mediafilewindow.h"
#include "platform/media/mediaprobe.h"
#include "platform/media/mpegframecounter.h"
#include "model/setlistfile.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr const char *Extensions[] = {"mp3", "aac", "m4a", "ogg", "flac", "wav", "opus", "wma", "ac3", "mp2"};

// One folder per fuzzing process (jobs run side by side), removed at exit.
const std::string &workFolder()
{
    static const std::string folder = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvanda-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return pattern;
    }();
    return folder;
}

std::string s_lastFile;

void removeWorkFolder()
{
    if (!s_lastFile.empty())
        ::unlink(s_lastFile.c_str());
    ::rmdir(workFolder().c_str());
}

bool writeFile(const std::string &path, const uint8_t *data, size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    ::close(fd);
    return done == size;
}

void countFrames(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        {
            MediaFileWindow window(fd, st.st_size);
            MpegFrameCounter counter(window);
            (void)counter.chainedStart();
            (void)counter.infoFrame();
            (void)counter.looksConstantBitrate();
            (void)counter.exactLengthMs();
        }
        {
            MediaFileWindow window(fd, st.st_size);
            (void)AdtsFrameCounter::exactLengthMs(window);
        }
        MediaFileWindow window(fd, st.st_size);
        (void)Ac3FrameCounter::startsWithAc3(window);
        if (const auto ms = Ac3FrameCounter::exactLengthMs(window); ms && !(*ms > 0))
            std::abort();
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    (void)workFolder();
    std::atexit(removeWorkFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const char *extension = Extensions[data[0] % std::size(Extensions)];
    const std::string path = workFolder() + "/input." + extension;
    if (!s_lastFile.empty() && s_lastFile != path)
        ::unlink(s_lastFile.c_str());
    s_lastFile = path;
    if (!writeFile(path, data + 1, size - 1))
        return 0;

    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    if (const auto ms = MediaProbe::lengthMs(name)) {
        // Whatever the probe answers must be a length the window can show.
        if (!(*ms > 0))
            std::abort();
    }
    countFrames(path);

    // Kept lengths: whatever reads must write back to the same entries.
    const QString folder = u"/songs"_s;
    if (const auto entries = LengthCache::parsePayload(reinterpret_cast<const char *>(data), qsizetype(size), folder)) {
        const auto again = LengthCache::parse(LengthCache::serialize(folder, *entries), folder);
        if (!again || again->size() != entries->size())
            std::abort();
    }
    (void)LengthCache::parse(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)), folder);

    // Set lists: whatever reads must write and read back to the same entries.
    if (const auto list = SetListFile::parse(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)))) {
        const auto again = SetListFile::parse(list->toBytes());
        const auto same = [](const SetListEntry &a, const SetListEntry &b) {
            return a.path == b.path && a.title == b.title && a.seconds == b.seconds && a.extras == b.extras;
        };
        if (!again || again->name != list->name || again->slot != list->slot || again->pause != list->pause
            || !std::equal(list->entries.cbegin(), list->entries.cend(), again->entries.cbegin(), again->entries.cend(), same))
            std::abort();
    }
    return 0;
}
