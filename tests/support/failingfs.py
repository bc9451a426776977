#!/usr/bin/python3
# A FUSE file system holding one file, a copy of a song whose reads fail with EIO from a
# set byte on, the way a USB stick bumped loose fails a player halfway through a song.
# Nothing is cached on the way: every read reaches this process when the player asks.
# usage: failingfs.py <source file> <mount point> <first byte that fails>
import errno, os, stat, sys
import fuse

fuse.fuse_python_api = (0, 2)


class FailingFs(fuse.Fuse):
    def __init__(self, source, fail_from, **kw):
        super().__init__(**kw)
        self.name = "/" + os.path.basename(source)
        self.fd = os.open(source, os.O_RDONLY)
        self.size, self.fail_from = os.fstat(self.fd).st_size, fail_from

    def getattr(self, path):
        if path == "/":
            return fuse.Stat(st_mode=stat.S_IFDIR | 0o755, st_nlink=2)
        if path == self.name:
            return fuse.Stat(st_mode=stat.S_IFREG | 0o644, st_nlink=1, st_size=self.size)
        return -errno.ENOENT

    def read(self, path, size, offset):
        if offset >= self.fail_from:
            return -errno.EIO
        return os.pread(self.fd, min(size, self.fail_from - offset), offset)


source, mountpoint, fail_from = sys.argv[1:4]
fs = FailingFs(source, int(fail_from), usage="failingfs.py", dash_s_do="setsingle")
fs.parse(args=[mountpoint, "-f", "-o", "ro,direct_io,attr_timeout=0,entry_timeout=0,fsname=korvanda-failingfs"], errex=1)
fs.main()
