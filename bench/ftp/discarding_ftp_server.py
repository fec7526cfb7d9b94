"""An FTP server for the upload benchmark: pyftpdlib that takes every upload and drops it.

    discarding_ftp_server.py PORT HOME

Listens on 127.0.0.1:PORT, takes the anonymous log-on with any password and writing rights,
and reads the data connection in blocks of 4 MiB. What a STOR brings is counted by pyftpdlib
and then dropped instead of written to a file: the benchmark measures the client and the
loopback path, and a server that stores the bytes spends more on them than the client does.
"""

import logging
import sys
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

BLOCK = 4 << 20


class DroppedFile:
    """What an upload is written to: counts nothing, keeps nothing."""

    closed = False

    def __init__(self, name):
        self.name = name

    def write(self, data):
        return len(data)

    def close(self):
        self.closed = True


class DroppingFS(AbstractedFS):
    def open(self, filename, mode):
        if "w" in mode or "a" in mode:
            return DroppedFile(filename)
        return super().open(filename, mode)


class LargeBlockDTP(DTPHandler):
    ac_in_buffer_size = BLOCK


def main():
    port, home = int(sys.argv[1]), sys.argv[2]
    logging.disable(logging.CRITICAL)
    warnings.simplefilter("ignore")  # writing rights for the anonymous user are the point
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(home, perm="elrw")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.abstracted_fs = DroppingFS
    handler.dtp_handler = LargeBlockDTP
    server = FTPServer(("127.0.0.1", port), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
