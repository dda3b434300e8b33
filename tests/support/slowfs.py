#!/usr/bin/python3
"""A file system for tests that misbehaves on request: it passes every call through
to a source folder, but can hold calls on some paths until told to let them go (a
share that stopped answering), fail reads with EIO after some bytes, or make a file
shorter once it has been read from (truncated while it is decoded).

    slowfs.py SOURCE MOUNTPOINT CONTROL

CONTROL is a JSON file, read again whenever it changes:
    {"stall": ["pics/slow", ""],   paths (relative, "" for all) whose calls wait
     "eio_after": {"bad.jpg": 4096}, reads past this offset fail with EIO
     "shrink": {"big.bmp": 1000}}    after the first read the file is this long
Calls waiting on a stall go on when the stall is lifted, or fail with ENOTCONN when
this process ends (the tests end it, so nothing stays stuck).
"""
import errno
import json
import os
import sys
import threading
import time

try:
    from fusepy import FUSE, FuseOSError, Operations
except ImportError:  # the module's name upstream
    from fuse import FUSE, FuseOSError, Operations


class Control:
    def __init__(self, path):
        self.path = path
        self.mtime = None
        self.data = {}
        self.lock = threading.Lock()

    def get(self):
        with self.lock:
            try:
                st = os.stat(self.path)
                m = (st.st_ino, st.st_mtime_ns, st.st_size)   # written anew, so a new inode each time
                if m != self.mtime:
                    with open(self.path) as f:
                        self.data = json.load(f)
                    self.mtime = m
            except (OSError, ValueError):
                pass
            return self.data


class SlowFs(Operations):
    def __init__(self, root, control):
        self.root = root
        self.control = Control(control)
        self.read_once = set()

    # --- the misbehaviour ------------------------------------------------------
    def _rel(self, path):
        return path.lstrip('/')

    def _wait(self, path):
        rel = self._rel(path)
        while True:
            stalls = self.control.get().get('stall', [])
            if not any(s == '' or rel == s or rel.startswith(s.rstrip('/') + '/') for s in stalls):
                return
            time.sleep(0.05)

    def _p(self, path):
        self._wait(path)
        return os.path.join(self.root, self._rel(path))

    def _shrunk(self, path):
        rel = self._rel(path)
        size = self.control.get().get('shrink', {}).get(rel)
        return size if size is not None and rel in self.read_once else None

    # --- the calls -------------------------------------------------------------
    def getattr(self, path, fh=None):
        st = os.lstat(self._p(path))
        d = {k: getattr(st, k) for k in ('st_atime', 'st_ctime', 'st_gid', 'st_mode', 'st_mtime',
                                         'st_nlink', 'st_size', 'st_uid', 'st_ino')}
        shrunk = self._shrunk(path)
        if shrunk is not None:
            d['st_size'] = min(d['st_size'], shrunk)
        return d

    def access(self, path, mode):
        if not os.access(self._p(path), mode):
            raise FuseOSError(errno.EACCES)

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self._p(path))

    def readlink(self, path):
        return os.readlink(self._p(path))

    def open(self, path, flags):
        return os.open(self._p(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self._p(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, size, offset, fh):
        self._wait(path)
        rel = self._rel(path)
        limit = self.control.get().get('eio_after', {}).get(rel)
        if limit is not None and offset + size > limit:
            if offset >= limit:
                raise FuseOSError(errno.EIO)
            size = limit - offset
        shrunk = self._shrunk(path)
        if shrunk is not None:
            size = max(0, min(size, shrunk - offset))
        self.read_once.add(rel)
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        self._wait(path)
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        os.truncate(self._p(path), length)

    def flush(self, path, fh):
        return 0

    def release(self, path, fh):
        os.close(fh)
        return 0

    def fsync(self, path, datasync, fh):
        return 0

    def unlink(self, path):
        os.unlink(self._p(path))

    def rmdir(self, path):
        os.rmdir(self._p(path))

    def mkdir(self, path, mode):
        os.mkdir(self._p(path), mode)

    def rename(self, old, new):
        os.rename(self._p(old), self._p(new))

    def link(self, target, source):
        os.link(self._p(source), self._p(target))

    def symlink(self, target, source):
        os.symlink(source, self._p(target))

    def chmod(self, path, mode):
        os.chmod(self._p(path), mode)

    def utimens(self, path, times=None):
        os.utime(self._p(path), times)

    def statfs(self, path):
        st = os.statvfs(self._p(path))
        return {k: getattr(st, k) for k in ('f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail',
                                            'f_ffree', 'f_files', 'f_flag', 'f_frsize', 'f_namemax')}


if __name__ == '__main__':
    source, mountpoint, control = sys.argv[1:4]
    FUSE(SlowFs(os.path.abspath(source), control), mountpoint, foreground=True, nothreads=False,
         use_ino=True, default_permissions=True, attr_timeout=0, entry_timeout=0, negative_timeout=0)
