"""An FTP server that takes uploads of any size without storing them.

Usage: counting_ftp_server.py HOME USER PASSWORD [ADDRESS]

Serves HOME on ADDRESS (127.0.0.1) at a port the system chooses and prints "PORT <n>" once it
listens. Each uploaded file is counted and the SHA-256 of its last MiB is kept; before the
upload's final reply, "<bytes> <sha256 of the last MiB>" is written to "<name>.received" in
HOME. The server ends when its standard input closes, so it never outlives its test.
"""
import collections
import hashlib
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

MIB = 1 << 20


class CountedFile:
    """What an upload is written to: a count, and the blocks that make up its last MiB."""

    def __init__(self, path):
        self.name = path
        self.closed = False
        self.count = 0
        self.tail = collections.deque()
        self.tail_size = 0

    def write(self, data):
        self.count += len(data)
        self.tail.append(bytes(data))
        self.tail_size += len(data)
        while self.tail_size - len(self.tail[0]) >= MIB:
            self.tail_size -= len(self.tail.popleft())
        return len(data)

    def close(self):
        if self.closed:
            return
        self.closed = True
        last = b"".join(self.tail)[-MIB:]
        with open(self.name + ".received", "w") as out:
            out.write("%d %s\n" % (self.count, hashlib.sha256(last).hexdigest()))


class CountingFS(AbstractedFS):
    def open(self, filename, mode):
        if "w" in mode or "a" in mode:
            return CountedFile(filename)
        return super().open(filename, mode)


class LargeBlockDTP(DTPHandler):
    ac_in_buffer_size = 4 * MIB


def main():
    home, user, password = sys.argv[1:4]
    address = sys.argv[4] if len(sys.argv) > 4 else "127.0.0.1"
    logging.disable(logging.CRITICAL)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.abstracted_fs = CountingFS
    Handler.dtp_handler = LargeBlockDTP
    server = FTPServer((address, 0), Handler)
    print("PORT", server.socket.getsockname()[1], flush=True)

    def watch_parent():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
