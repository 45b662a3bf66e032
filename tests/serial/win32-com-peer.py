#!/usr/bin/env python3
"""The far end of COM ports for the Win32 device layer's tests under Wine.

Each port is a Linux pseudo-terminal that Wine shows as COM<n> (a link in the prefix's dosdevices
folder). The peer echoes every byte back; the bytes 00 'HANGUP' 00 make it close the terminal (the
lead is pulled) and open a fresh one under the same COM number a moment later.

  win32-com-peer.py start PIDFILE COM [COM ...]   starts in the background, returns once linked
  win32-com-peer.py stop PIDFILE
"""
import os
import pty
import select
import signal
import sys
import time
import tty

HANGUP = b"\x00HANGUP\x00"


def dosdevices():
    prefix = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
    return os.path.join(prefix, "dosdevices")


class Port:
    def __init__(self, com):
        self.com = com
        self.link = os.path.join(dosdevices(), "com%d" % com)
        self.master = -1
        self.slave = -1
        self.tail = b""
        self.open()

    def open(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        name = os.ttyname(self.slave)
        tmp = self.link + ".tmp"
        if os.path.lexists(tmp):
            os.remove(tmp)
        os.symlink(name, tmp)
        os.replace(tmp, self.link)

    def close(self):
        for fd in (self.master, self.slave):
            if fd >= 0:
                os.close(fd)
        self.master = self.slave = -1

    def serve(self):
        try:
            data = os.read(self.master, 65536)
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            return
        if not data:
            return
        seen = self.tail + data
        if HANGUP in seen:
            self.close()
            time.sleep(1.0)
            self.tail = b""
            self.open()
            return
        self.tail = seen[-len(HANGUP):]
        view = memoryview(data)
        while view:
            try:
                n = os.write(self.master, view)
                view = view[n:]
            except BlockingIOError:
                select.select([], [self.master], [], 0.1)


def serve(ports):
    running = True

    def stop(*_):
        nonlocal running
        running = False

    signal.signal(signal.SIGTERM, stop)
    while running:
        fds = [p.master for p in ports if p.master >= 0]
        ready, _, _ = select.select(fds, [], [], 0.2)
        for p in ports:
            if p.master in ready:
                p.serve()
    for p in ports:
        p.close()
        if os.path.islink(p.link):
            os.remove(p.link)


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "start":
        pidfile = sys.argv[2]
        coms = [int(c) for c in sys.argv[3:]]
        os.makedirs(dosdevices(), exist_ok=True)
        ready_r, ready_w = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(ready_r)
            os.setsid()
            devnull = os.open(os.devnull, os.O_RDWR)
            for fd in (0, 1, 2):
                os.dup2(devnull, fd)
            ports = [Port(c) for c in coms]
            os.write(ready_w, b"1")
            os.close(ready_w)
            serve(ports)
            os._exit(0)
        os.close(ready_w)
        os.read(ready_r, 1)
        with open(pidfile, "w") as f:
            f.write(str(pid))
        return 0
    if len(sys.argv) == 3 and sys.argv[1] == "stop":
        try:
            with open(sys.argv[2]) as f:
                os.kill(int(f.read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
