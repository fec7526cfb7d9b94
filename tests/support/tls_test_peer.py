#!/usr/bin/python3
"""A TLS server on 127.0.0.1 for the tests of the TLS client, or one that plays a fault.

Prints "PORT <n>" once it listens, then one report line per event, and serves each
connection in a thread of its own until its input closes or it is terminated. --ciphers
limits what it offers for TLS 1.2 (or lowers its security level, for a weak certificate).

Modes:
  serve    handshake; report "HANDSHAKE <version> <reused 0|1>"; send the --greeting bytes
           in one record; then take what arrives (sending it back with --echo) until the
           client ends; report "RECEIVED <count> <sha256> <clean|abrupt>" (clean: it sent a
           close-notify) and answer a close-notify with its own
  garbage-after-handshake
           as serve up to the greeting, then bytes that are no TLS record
  late-ticket
           as serve without greeting or echo, but the handshake's last step (taking the
           client's finish, then sending the session tickets) waits LATE_TICKET_S, as a
           busy server's may: the client has sent everything by then
  garbage  answer the client's hello with bytes that are no TLS record
  plain    send a plain-text FTP reply line instead of any TLS
  stall    take the client's hello and never answer
  close    take the client's hello and close the connection
"""

import argparse
import hashlib
import socket
import ssl
import sys
import threading
import time

GARBAGE = b"\xde\xad\xbe\xef" * 16
LATE_TICKET_S = 0.5
PLAIN_REPLY = b"220 Plain text from here on.\r\n"
VERSIONS = {"1.2": ssl.TLSVersion.TLSv1_2, "1.3": ssl.TLSVersion.TLSv1_3}


_printing = threading.Lock()


def report(text):
    with _printing:
        print(text, flush=True)


def hold_until_client_ends(conn):
    try:
        while conn.recv(65536):
            pass
    except OSError:
        pass


def serve(conn, context, options):
    tls = context.wrap_socket(conn, server_side=True, suppress_ragged_eofs=False)
    report("HANDSHAKE %s %d" % (tls.version(), 1 if tls.session_reused else 0))
    if options.greeting:
        tls.sendall(options.greeting.encode("latin-1").decode("unicode_escape").encode("latin-1"))
    if options.mode == "garbage-after-handshake":
        # Straight onto the connection, past the TLS layer.
        with socket.fromfd(tls.fileno(), socket.AF_INET, socket.SOCK_STREAM) as raw:
            raw.sendall(GARBAGE)
        hold_until_client_ends(tls)
        return
    digest = hashlib.sha256()
    count = 0
    ending = "clean"
    try:
        while True:
            data = tls.recv(65536)
            if not data:
                break
            count += len(data)
            digest.update(data)
            if options.echo:
                tls.sendall(data)
    except (ssl.SSLEOFError, ConnectionError):
        ending = "abrupt"
    report("RECEIVED %d %s %s" % (count, digest.hexdigest(), ending))
    if ending == "clean":
        try:
            tls.unwrap()
        except (ssl.SSLError, OSError):
            pass


def late_ticket(conn, context):
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = context.wrap_bio(incoming, outgoing, server_side=True)

    def flush():
        if outgoing.pending:
            conn.sendall(outgoing.read())

    def take(step):
        """Runs step, feeding it the connection's bytes until it needs no more."""
        while True:
            try:
                return step()
            except ssl.SSLWantReadError:
                flush()
                data = conn.recv(65536)
                if not data:
                    raise ConnectionError("the client closed")
                incoming.write(data)

    # The client's hello, then the server's answer up to its own finish.
    while not outgoing.pending:
        incoming.write(conn.recv(65536))
        try:
            tls.do_handshake()
        except ssl.SSLWantReadError:
            pass
    flush()
    time.sleep(LATE_TICKET_S)
    take(tls.do_handshake)
    flush()  # the session tickets
    report("HANDSHAKE %s 0" % tls.version())
    digest = hashlib.sha256()
    count = 0
    ending = "clean"
    try:
        while True:
            data = take(lambda: tls.read(65536))
            if not data:  # the client's close-notify
                break
            count += len(data)
            digest.update(data)
    except (ssl.SSLError, ConnectionError):
        ending = "abrupt"
    report("RECEIVED %d %s %s" % (count, digest.hexdigest(), ending))
    if ending == "clean":
        try:
            tls.unwrap()
        except ssl.SSLError:
            pass
        flush()


def handle(conn, context, options):
    with conn:
        try:
            if options.mode in ("serve", "garbage-after-handshake"):
                serve(conn, context, options)
                return
            if options.mode == "late-ticket":
                late_ticket(conn, context)
                return
            if options.mode == "plain":
                conn.sendall(PLAIN_REPLY)
            else:
                conn.recv(65536)  # the client's hello
                if options.mode == "garbage":
                    conn.sendall(GARBAGE)
                elif options.mode == "close":
                    return
            hold_until_client_ends(conn)
        except (ssl.SSLError, OSError) as error:
            report("FAILED %s" % error)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", default="serve",
                        choices=["serve", "garbage-after-handshake", "late-ticket", "garbage",
                                 "plain", "stall", "close"])
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--max-version", choices=sorted(VERSIONS))
    parser.add_argument("--ciphers", help="OpenSSL cipher string for TLS 1.2, e.g. AES128-SHA; "
                        "@SECLEVEL=0 in it lets a weak certificate load")
    parser.add_argument("--greeting", default="", help="Python escapes such as \\r\\n allowed")
    parser.add_argument("--echo", action="store_true")
    options = parser.parse_args()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    if options.max_version:
        context.maximum_version = VERSIONS[options.max_version]
    if options.ciphers:
        context.set_ciphers(options.ciphers)  # before the certificate: it sets the level too
    context.load_cert_chain(options.cert, options.key)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    report("PORT %d" % listener.getsockname()[1])

    # Ends when the test closes our input (or terminates us).
    def watch_input():
        sys.stdin.read()
        try:
            listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    threading.Thread(target=watch_input, daemon=True).start()
    while True:
        try:
            conn, _ = listener.accept()
        except OSError:
            return 0
        threading.Thread(target=handle, args=(conn, context, options), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
