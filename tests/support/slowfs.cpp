// A FUSE file system holding one file, "disk", that takes writes at a set speed and
// a flush in a set time, the way a USB stick does; "arrived" reads the bytes written
// to "disk" so far. A loop device over "disk" with a kernel file system on it fills
// the page cache exactly as a stick does, and the tests see what really reached it.
//
// usage: korvanda_slowfs <storage file> <mount point> <bytes per second> <ms per flush> [fuse options]
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int g_storage = -1;
off_t g_size = 0;
double g_bytesPerSecond = 10e6;
std::chrono::microseconds g_flush{3000};
std::atomic<long long> g_arrived{0};

// The device does one thing at a time: each write or flush gets the next slot on
// its timeline, and its caller is answered when that slot ends.
std::mutex g_timeline;
Clock::time_point g_free = Clock::now();

void occupy(Clock::duration busy)
{
    Clock::time_point end;
    {
        const std::lock_guard lock(g_timeline);
        g_free = std::max(g_free, Clock::now()) + busy;
        end = g_free;
    }
    std::this_thread::sleep_until(end);
}

constexpr std::string_view Disk = "/disk";
constexpr std::string_view Arrived = "/arrived";
constexpr int ArrivedWidth = 21; // 20 digits and a line end

void *init(fuse_conn_info *, fuse_config *config)
{
    // Nothing cached on the way: every write reaches this process when the
    // kernel sends it, and every read of "arrived" asks it afresh.
    config->direct_io = 1;
    config->attr_timeout = 0;
    config->entry_timeout = 0;
    return nullptr;
}

int getattr(const char *path, struct stat *st, fuse_file_info *)
{
    std::memset(st, 0, sizeof *st);
    if (path == std::string_view("/")) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
    } else if (path == Disk) {
        st->st_mode = S_IFREG | 0600;
        st->st_nlink = 1;
        st->st_size = g_size;
    } else if (path == Arrived) {
        st->st_mode = S_IFREG | 0444;
        st->st_nlink = 1;
        st->st_size = ArrivedWidth;
    } else {
        return -ENOENT;
    }
    return 0;
}

int readdir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *, fuse_readdir_flags)
{
    if (path != std::string_view("/"))
        return -ENOENT;
    for (const char *name : {".", "..", "disk", "arrived"})
        fill(buffer, name, nullptr, 0, fuse_fill_dir_flags{});
    return 0;
}

int open(const char *path, fuse_file_info *info)
{
    if (path == Disk)
        return 0;
    if (path == Arrived)
        return (info->flags & O_ACCMODE) == O_RDONLY ? 0 : -EACCES;
    return -ENOENT;
}

int read(const char *path, char *buffer, size_t size, off_t offset, fuse_file_info *)
{
    if (path == Arrived) {
        char text[ArrivedWidth + 1];
        std::snprintf(text, sizeof text, "%020lld\n", g_arrived.load());
        if (offset >= ArrivedWidth)
            return 0;
        const size_t n = std::min(size, size_t(ArrivedWidth - offset));
        std::memcpy(buffer, text + offset, n);
        return int(n);
    }
    const ssize_t n = ::pread(g_storage, buffer, size, offset);
    return n < 0 ? -errno : int(n);
}

int write(const char *path, const char *buffer, size_t size, off_t offset, fuse_file_info *)
{
    if (path != Disk)
        return -EACCES;
    occupy(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(size) / g_bytesPerSecond)));
    const ssize_t n = ::pwrite(g_storage, buffer, size, offset);
    if (n < 0)
        return -errno;
    g_arrived += n;
    return int(n);
}

int fsync(const char *, int, fuse_file_info *)
{
    occupy(g_flush);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s <storage> <mount point> <bytes/s> <ms/flush> [fuse options]\n", argv[0]);
        return 2;
    }
    g_storage = ::open(argv[1], O_RDWR | O_CLOEXEC);
    if (g_storage < 0) {
        std::perror(argv[1]);
        return 1;
    }
    g_size = ::lseek(g_storage, 0, SEEK_END);
    g_bytesPerSecond = std::atof(argv[3]);
    g_flush = std::chrono::microseconds(std::atoll(argv[4]) * 1000);

    fuse_operations ops{};
    ops.getattr = getattr;
    ops.readdir = readdir;
    ops.open = open;
    ops.read = read;
    ops.write = write;
    ops.fsync = fsync;
    ops.init = init;

    // fuse_main takes the mount point and the options; the first four are ours.
    char *args[64];
    int count = 0;
    args[count++] = argv[0];
    args[count++] = argv[2];
    for (int i = 5; i < argc && count < 63; ++i)
        args[count++] = argv[i];
    args[count] = nullptr;
    return fuse_main(count, args, &ops, nullptr);
}
