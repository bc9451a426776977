#!/usr/bin/python3
# A FUSE file system holding one file, "disk", that takes writes at a set speed and a flush
# in a set time, the way a USB stick does; "arrived" reads the bytes written to "disk" so far.
# A loop device over "disk" with a kernel file system on it fills the page cache exactly as a
# stick does, and the tests see what really reached it.
# usage: slowfs.py <storage file> <mount point> <bytes per second> <ms per flush>
import errno, os, stat, sys, threading, time
import fuse

fuse.fuse_python_api = (0, 2)


class SlowFs(fuse.Fuse):
    def __init__(self, storage, rate, flush_ms, **kw):
        super().__init__(**kw)
        self.fd = os.open(storage, os.O_RDWR)
        self.size, self.rate, self.flush_seconds = os.fstat(self.fd).st_size, rate, flush_ms / 1000
        self.arrived, self.free, self.timeline = 0, time.monotonic(), threading.Lock()

    def occupy(self, seconds):
        # The device does one thing at a time: each write or flush takes the next slot of its
        # timeline, and its caller is answered when that slot ends.
        with self.timeline:
            self.free = end = max(self.free, time.monotonic()) + seconds
        time.sleep(max(0, end - time.monotonic()))

    def getattr(self, path):
        if path == "/":
            return fuse.Stat(st_mode=stat.S_IFDIR | 0o755, st_nlink=2)
        if path in ("/disk", "/arrived"):
            return fuse.Stat(st_mode=stat.S_IFREG | 0o600, st_nlink=1, st_size=self.size if path == "/disk" else 21)
        return -errno.ENOENT

    def read(self, path, size, offset):
        if path == "/arrived":
            return (b"%020d\n" % self.arrived)[offset:offset + size]
        return os.pread(self.fd, size, offset)

    def write(self, path, buf, offset):
        if path != "/disk":
            return -errno.EACCES
        self.occupy(len(buf) / self.rate)
        n = os.pwrite(self.fd, buf, offset)
        with self.timeline:
            self.arrived += n
        return n

    def fsync(self, path, datasync):
        self.occupy(self.flush_seconds)
        return 0


storage, mountpoint, rate, flush_ms = sys.argv[1:5]
fs = SlowFs(storage, float(rate), float(flush_ms), usage="slowfs.py", dash_s_do="setsingle")
# Nothing cached on the way: every write reaches this process when the kernel sends it, in
# pieces as large as the kernel allows, and every read of "arrived" asks afresh.
fs.parse(args=[mountpoint, "-f", "-o", "direct_io,big_writes,max_write=131072,attr_timeout=0,entry_timeout=0,fsname=korvanda-slowfs"], errex=1)
fs.main()
