"""Command-line options of the host emulator: where it listens, who may log on, and
which of the host's behaviours and faults it plays."""

import argparse

from .network import add_network_options, check_network_options

DEFAULT_LIBRARIES = ("QGPL", "KDXSUPPT")


def _non_negative(text):
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError("must be 0 or more")
    return value


def parse_options(argv=None):
    p = argparse.ArgumentParser(
        prog="host_emulator.py",
        description="An IBM i FTP server for the update installer's tests and demo. "
        "Listens on 127.0.0.1 unless --listen says otherwise. Texts of --greeting, --reply-to and "
        "--fail-install may hold several lines separated by newlines.",
    )
    where = p.add_argument_group("where and who")
    where.add_argument("--port", type=_non_negative, default=0,
                       help="TCP port; 0 (the default) picks a free one")
    where.add_argument("--port-file", help="write the port number here once listening")
    where.add_argument("--user", default="QSECOFR", help="the one user profile (any case)")
    where.add_argument("--password", required=True, help="its password (case-sensitive)")
    where.add_argument("--library-root", required=True,
                       help="folder holding one folder per library")
    where.add_argument("--record", help="append every received command here (JSON lines)")
    where.add_argument("--system-name", default="EMU400", help="host name shown in the greeting")

    state = p.add_argument_group("starting state")
    state.add_argument("--library", action="append", default=[], metavar="LIB",
                       help="create this library (repeatable)")
    state.add_argument("--no-default-libraries", action="store_true",
                       help="do not create %s" % " and ".join(DEFAULT_LIBRARIES))
    state.add_argument("--save-file", action="append", default=[], metavar="LIB/FILE",
                       help="create this empty save file (repeatable)")

    host = p.add_argument_group("host behaviour")
    host.add_argument("--locked", action="append", default=[], metavar="LIB/OBJ[ *TYPE]",
                      help="the lock-check program reports this object locked (repeatable)")
    host.add_argument("--fail-install", metavar="TEXT",
                      help="the install command ZLCLUPD fails with these CPF messages")

    faults = p.add_argument_group("faults")
    faults.add_argument("--no-greeting", action="store_true",
                        help="accept connections but never send the greeting")
    faults.add_argument("--greeting", metavar="TEXT", help="send these greeting lines instead")
    faults.add_argument("--silent-after-command", dest="silent_after", type=_non_negative,
                        metavar="N", help="answer the first N commands of a session, then nothing")
    faults.add_argument("--silent-on", action="append", default=[], metavar="SUBSTRING",
                        help="from the first command containing this (any case) on, answer nothing")
    faults.add_argument("--close-on", action="append", default=[], metavar="SUBSTRING",
                        help="close the connection, unanswered, on a command containing this")
    faults.add_argument("--reply-to", action="append", nargs=2, default=[],
                        metavar=("SUBSTRING", "REPLY"),
                        help="answer a command containing SUBSTRING with REPLY, unprocessed")
    faults.add_argument("--no-data-connect", action="store_true",
                        help="answer STOR with 150, then never connect back or read the data")
    faults.add_argument("--refuse-data-connect", action="store_true",
                        help="answer STOR with 425")
    faults.add_argument("--stor-final-reply", metavar="REPLY",
                        help="the reply after an upload's data (default 250 ...)")
    faults.add_argument("--no-final-reply", action="store_true",
                        help="receive an upload's data but never send the final reply")
    faults.add_argument("--verbose", action="store_true", help="log the protocol to stderr")
    add_tls_options(p)
    add_network_options(p)

    options = p.parse_args(argv)
    check_tls_options(p, options)
    check_network_options(p, options)
    options.silent_on = [s.lower() for s in options.silent_on]
    options.close_on = [s.lower() for s in options.close_on]
    options.reply_to = [(s.lower(), reply) for s, reply in options.reply_to]
    return options


def add_tls_options(p):
    tls = p.add_argument_group("FTP over TLS")
    tls.add_argument("--tls", choices=("explicit", "implicit"),
                     help="explicit: AUTH TLS on the normal port; implicit: TLS from the first "
                     "byte. Either way USER/PASS need a secured control connection and "
                     "PASV/PORT need PROT P")
    tls.add_argument("--cert", metavar="PEM", help="the host's certificate (chain), for --tls")
    tls.add_argument("--key", metavar="PEM", help="its private key (default: in --cert)")
    tls.add_argument("--tls-max-version", choices=("1.2", "1.3"),
                     help="the highest TLS version offered (default: the highest known)")
    tls.add_argument("--tls-fault",
                     choices=("refuse-auth", "plain-text", "stall-handshake", "garbage-handshake"),
                     help="get TLS wrong this way (see tools/README.md)")


def check_tls_options(p, options):
    if options.tls is None:
        if options.cert or options.key or options.tls_max_version or options.tls_fault:
            p.error("--cert, --key, --tls-max-version and --tls-fault need --tls")
        return
    if not options.cert:
        p.error("--tls needs --cert")
    if options.tls == "implicit" and options.tls_fault == "refuse-auth":
        p.error("--tls-fault refuse-auth needs --tls explicit")
