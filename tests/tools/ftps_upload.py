#!/usr/bin/python3
"""Uploads a file over FTP over TLS with the standard library's client, actively and then
passively, and prints the TLS version and each final reply. Exits 1 with the error on a
failure. For the tests of the TLS test servers.

usage: ftps_upload.py explicit|implicit PORT USER PASSWORD CA_FILE FILE NAME
       [--no-reuse] [--no-close-notify]
"""

import argparse
import ftplib
import ssl
import sys

from tls_clients import ExplicitFTP_TLS, ImplicitFTP_TLS, secured_client


def main():
    p = argparse.ArgumentParser()
    for name in ("mode", "port", "user", "password", "ca_file", "file", "name"):
        p.add_argument(name)
    p.add_argument("--no-reuse", action="store_true",
                   help="data connections start new TLS sessions")
    p.add_argument("--no-close-notify", action="store_true",
                   help="data connections end without a close-notify")
    options = p.parse_args()
    if options.no_reuse:
        # The standard library's own data connections, which resume nothing.
        ExplicitFTP_TLS.ntransfercmd = ftplib.FTP_TLS.ntransfercmd
        ImplicitFTP_TLS.ntransfercmd = ftplib.FTP_TLS.ntransfercmd
    if options.no_close_notify:
        ssl.SSLSocket.unwrap = lambda self: None
    context = ssl.create_default_context(cafile=options.ca_file)
    try:
        ftp = secured_client(options.mode, int(options.port), context, 10)
        ftp.login(options.user, options.password)
        ftp.prot_p()
        print("VERSION", ftp.sock.version(), flush=True)
        for passive in (False, True):
            ftp.set_pasv(passive)
            with open(options.file, "rb") as data:
                print(ftp.storbinary("STOR " + options.name, data), flush=True)
        ftp.quit()
    except (ftplib.Error, OSError, EOFError) as error:
        print("FAILED", error, flush=True)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
