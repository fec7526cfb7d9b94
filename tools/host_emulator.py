#!/usr/bin/python3
"""IBM i host emulator: an FTP server on 127.0.0.1 (or the --listen addresses) that answers the update installer
as an IBM i host does. Run with --help for the options.

Prints the port it listens on (and writes it to --port-file) once it accepts
connections; stops cleanly on SIGTERM or SIGINT.
"""

import logging
import os
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer

from ibmi.cl_commands import CommandRunner
from ibmi.command_record import CommandRecord
from ibmi.ftp_session import HostSession
from ibmi.library_store import ClError, LibraryStore, check_name, to_upper
from ibmi.network import open_listeners, shown
from ibmi.options import DEFAULT_LIBRARIES, parse_options


def prepare_libraries(store, options):
    libraries = list(options.library)
    if not options.no_default_libraries:
        libraries += DEFAULT_LIBRARIES
    for lib in libraries:
        store.create_library(check_name(lib, "Library"))
    for spec in options.save_file:
        lib, _, name = spec.partition("/")
        lib, name = check_name(lib, "Library"), check_name(name)
        store.create_library(lib)
        if not store.save_file_exists(lib, name):
            open(store.save_file_path(lib, name), "wb").close()


def make_session_class(options, store, record):
    authorizer = DummyAuthorizer()
    # Read-only for pyftpdlib's own commands: uploads go through the session's STOR.
    authorizer.add_user(to_upper(options.user), options.password, store.root, perm="elr",
                        msg_quit="QUIT subcommand received.")
    return type("ConfiguredHostSession", (HostSession,), {
        "options": options,
        "store": store,
        "runner": CommandRunner(store, options.locked, options.fail_install),
        "record": record,
        "authorizer": authorizer,
        "banner": "",
    })


def secure_session_class(session_class, options):
    # Imported only when asked for: the plain host runs without python3-openssl.
    from ibmi.tls_session import secure_session_class as secure

    return secure(session_class, options)


def write_port_file(path, port):
    # Written whole, then renamed, so a reader never sees a partial number.
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="ascii") as out:
        out.write("%d\n" % port)
    os.replace(temporary, path)


def main(argv=None):
    options = parse_options(argv)
    logging.basicConfig(level=logging.DEBUG if options.verbose else logging.WARNING,
                        stream=sys.stderr, format="host_emulator: %(message)s")
    try:
        store = LibraryStore(options.library_root)
        prepare_libraries(store, options)
    except (ClError, OSError) as error:
        print("host_emulator: cannot prepare the library root: %s" % error, file=sys.stderr)
        return 2
    try:
        record = CommandRecord(options.record)
    except OSError as error:
        print("host_emulator: cannot open the record: %s" % error, file=sys.stderr)
        return 2
    session_class = make_session_class(options, store, record)
    if options.tls:
        try:
            session_class = secure_session_class(session_class, options)
        except Exception as error:  # a missing module, an unreadable certificate or key
            print("host_emulator: cannot set up TLS: %s" % error, file=sys.stderr)
            return 2
    try:
        servers, port = open_listeners(options.listen, options.port, session_class)
    except OSError as error:
        where = getattr(error, "address", shown(options.listen[0], options.port))
        print("host_emulator: cannot listen on %s: %s" % (where, error.strerror), file=sys.stderr)
        return 2

    def stop(signum, frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if options.port_file:
        write_port_file(options.port_file, port)
    print(port, flush=True)
    try:
        # The servers share one event loop: serving one serves them all.
        servers[0].serve_forever(handle_exit=True)
    finally:
        record.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
