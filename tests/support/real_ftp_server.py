"""A real FTP server (pyftpdlib) for the client's tests.

Usage: real_ftp_server.py HOME USER PASSWORD [ADDRESS]

Serves HOME on ADDRESS (127.0.0.1 unless given, e.g. ::1) at a port the system chooses,
prints "PORT <n>" on standard output once it listens, and ends when its standard input
closes (so it never outlives the test that started it).
"""
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    home, user, password = sys.argv[1:4]
    address = sys.argv[4] if len(sys.argv) > 4 else "127.0.0.1"
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "pyftpdlib ready."
    # Over IPv6 pyftpdlib takes EPRT and EPSV; its PASV reply there names the IPv6
    # address in the IPv4 form, which no client can use.
    server = FTPServer((address, 0), Handler)
    print("PORT", server.socket.getsockname()[1], flush=True)

    def watch_parent():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
