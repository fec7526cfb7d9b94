"""One FTP control connection to the host: IBM i replies on top of pyftpdlib.

pyftpdlib does the protocol plumbing (log-on state, TYPE, PASV, data channels,
QUIT); this session adds what an IBM i FTP server does differently: the multi-line
greeting, library names instead of paths (CWD, STOR), SITE NAMEFMT, RCMD running CL
commands, and a PORT that only records the address so that the connection back is
made when STOR arrives, as the host does (EPRT and EPSV: network.py). It also records every received line and
plays the faults chosen by the options.
"""

import itertools
import logging
import re
import socket

from pyftpdlib.handlers import ActiveDTP, DTPHandler, FTPHandler

from .library_store import ClError, check_name, to_upper
from .network import DataConnections

logger = logging.getLogger("ibmi")

DEFAULT_LIBRARY = "QGPL"
TRANSFER_COMPLETE = "250 File transfer completed successfully."
NO_DATA_CONNECTION = "425 Unable to open data connection."
NO_DIRECTORY = "550 Specified directory does not exist or cannot be accessed."

# A lone CR or LF (or a NUL) that a client put in a command must not come back inside a
# reply that echoes the command, where it would split the reply into extra lines.
_STRAY_LINE_BREAK = re.compile(r"\r(?!\n)|(?<!\r)\n|\x00")


class HostActiveDTP(ActiveDTP):
    """The connection back to the client's PORT address, made once STOR is accepted."""

    def handle_connect(self):
        # As the base class, minus its "200 Active data connection established." reply:
        # the host has already answered STOR with 150.
        self.del_channel()
        if self._idler is not None and not self._idler.cancelled:
            self._idler.cancel()
        channel = self.cmd_channel
        if not channel.connected:
            return self.close()
        err = self.socket.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
        if err != 0:
            raise socket.error(err)
        channel.data_channel = channel.dtp_handler(self.socket, channel)
        channel._on_dtp_connection()

    def handle_close(self):
        if not self._closed:
            self.close()
            self.cmd_channel.data_connection_failed()

    def handle_timeout(self):
        if not self._closed:
            self.close()
            self.cmd_channel.data_connection_failed()


class HostDTPHandler(DTPHandler):
    """A data connection whose end of upload is answered the way the host answers it."""

    def handle_close(self):
        if self._closed:
            return
        if self.receive:
            self.transfer_finished = True
            final = self.cmd_channel.final_upload_reply()
            self._resp = (final, logger.debug) if final else ()
        else:
            self.transfer_finished = len(self.producer_fifo) == 0
            if self.transfer_finished:
                self._resp = ("226 File transfer completed successfully.", logger.debug)
            else:
                self._resp = ("426 Data transfer ended.", logger.debug)
        self.close()


class HostSession(DataConnections, FTPHandler):
    # Set by make_session_class: the options, the library store, the CL command
    # runner and the command record shared by every session of this host.
    options = None
    store = None
    runner = None
    record = None
    _sessions = itertools.count(1)

    active_dtp = HostActiveDTP
    dtp_handler = HostDTPHandler

    def __init__(self, conn, server, ioloop=None):
        super().__init__(conn, server, ioloop=ioloop)
        self.session = next(self._sessions)
        self.received = 0
        self.silent = False
        self.current_library = None
        self.namefmt = 0
        self.port_address = None
        self.pending_user = ""

    # --- greeting and command intake

    def handle(self):
        self.on_connect()
        if self._closed or self._closing or self.options.no_greeting:
            return
        greeting = self.options.greeting
        if greeting is None:
            greeting = "220-QTCP at %s.\n220 Connection will close if idle more than 5 minutes." % (
                self.options.system_name
            )
        self.push_lines(greeting.split("\n"))

    def found_terminator(self):
        if self._idler is not None and not self._idler.cancelled:
            self._idler.reset()
        raw = b"".join(self._in_buffer)
        self._in_buffer = []
        self._in_buffer_len = 0
        self.record.add(self.session, raw)
        self.received += 1

        # Bytes map one to one onto characters so that nothing a client sends can
        # fail to decode; replies only ever echo names that passed the name rules.
        line = raw.decode("latin-1")
        if line[:5].upper() == "PASS ":
            self.logline("<- PASS ******")
        else:
            self.logline("<- %s" % line)
        lowered = line.lower()
        options = self.options
        if options.silent_after is not None and self.received > options.silent_after:
            self.silent = True
        if any(s in lowered for s in options.silent_on):
            self.silent = True
        if self.silent:
            return
        if any(s in lowered for s in options.close_on):
            self.close()
            return
        for substring, reply in options.reply_to:
            if substring in lowered:
                self.push_lines(reply.split("\n"))
                return

        cmd = line.split(" ")[0].upper()
        arg = line[len(cmd) + 1 :]
        if cmd == "SITE" and arg.split(" ")[0].upper() == "NAMEFMT":
            self.logged_on_only(self.site_namefmt, arg[len("NAMEFMT") :].strip())
        elif cmd == "RCMD":
            self.logged_on_only(self.rcmd, arg)
        elif cmd in ("CWD", "XCWD"):
            self.logged_on_only(self.change_library, arg)
        elif cmd == "STOR":
            self.logged_on_only(self.store_file, arg)
        elif cmd == "PORT":
            self.logged_on_only(self.record_port, arg)
        elif cmd == "EPRT":
            self.logged_on_only(self.record_eprt, arg)
        else:
            self.pre_process_command(line, cmd, arg)

    def push(self, s):
        super().push(_STRAY_LINE_BREAK.sub("?", s))

    def logged_on_only(self, action, arg):
        if not self.authenticated:
            self.respond("530 Log in with USER and PASS first.")
            return
        action(arg)

    def push_lines(self, lines):
        for text in lines[:-1]:
            self.push(text + "\r\n")
        self.respond(lines[-1])

    def respond_error(self, error):
        self.push_lines(["550-" + m for m in error.messages] + ["550 Errors occurred on command."])

    # --- log-on: user profiles are case-insensitive, passwords are not

    def ftp_USER(self, line):
        if self.authenticated:
            self.flush_account()
        self.pending_user = to_upper(line.strip())
        self.respond("331 Enter password.")

    def ftp_PASS(self, line):
        if self.authenticated:
            self.respond("503 User already logged on.")
            return
        user = self.pending_user
        if not user:
            self.respond("503 Log on with USER first.")
            return
        self.pending_user = ""
        if user != to_upper(self.options.user) or line != self.options.password:
            self.respond("530 Log on attempt by user %s rejected." % user)
            return
        self.username = user
        self.handle_auth_success(self.store.root, line, "%s logged on." % user)

    # --- host subcommands

    def ftp_SYST(self, line):
        self.respond('215  OS/400 is the remote operating system.  The TCP/IP version is "V7R4M0".')

    def ftp_NOOP(self, line):
        self.respond("200 NOOP subcommand received.")

    def ftp_TYPE(self, line):
        kind = line.upper().replace(" ", "")
        if kind in ("A", "AN"):
            self._current_type = "a"
            self.respond("200 Representation type is ASCII nonprint.")
        elif kind in ("I", "L8"):
            self._current_type = "i"
            self.respond("200 Representation type is binary IMAGE.")
        else:
            self.respond("504 Representation type %s not supported." % line)

    def ftp_PWD(self, line):
        library = self.current_library or DEFAULT_LIBRARY
        if self.namefmt == 1:
            self.respond('257 "/QSYS.LIB/%s.LIB" is current directory.' % library)
        else:
            self.respond('257 "%s" is current library.' % library)

    def site_namefmt(self, value):
        if value not in ("0", "1"):
            self.respond("501 Parameter %s not valid for SITE NAMEFMT." % value)
            return
        self.namefmt = int(value)
        self.respond('250  Now using naming format "%s".' % value)

    def change_library(self, target):
        try:
            library = library_of(target)
        except ClError:
            self.respond(NO_DIRECTORY)
            return
        if not self.store.library_exists(library):
            self.respond(NO_DIRECTORY)
            return
        self.current_library = library
        # Keeps pyftpdlib's own listing commands in step with the current library.
        self.fs.cwd = "/" + library
        if self.namefmt == 1:
            self.respond('250 "/QSYS.LIB/%s.LIB" is current directory.' % library)
        else:
            self.respond('250 "%s" is current library.' % library)

    def rcmd(self, text):
        if not text.strip():
            self.respond("501 Syntax error: RCMD needs a CL command.")
            return
        try:
            self.runner.run(text, self.current_library or DEFAULT_LIBRARY)
        except ClError as error:
            self.respond_error(error)
            return
        except OSError as error:
            self.respond_error(ClError("CPF9898: %s." % error.strerror))
            return
        self.respond("250 Command %s successful." % to_upper(text.split()[0]))

    # --- data connections and upload

    def ftp_PASV(self, line):
        self.port_address = None
        super().ftp_PASV(line)

    def record_port(self, arg):
        self.cancel_give_up()
        try:
            numbers = [int(x) for x in arg.split(",")]
            if len(numbers) != 6 or not all(0 <= x <= 255 for x in numbers):
                raise ValueError
        except ValueError:
            self.respond("501 PORT subcommand parameter not valid.")
            return
        address = "%d.%d.%d.%d" % tuple(numbers[:4])
        port = numbers[4] * 256 + numbers[5]
        # The connection back goes only to the client itself, never to a third host.
        if address != self.remote_ip or port < 1024:
            self.respond("501 PORT subcommand parameter not valid.")
            return
        self._shutdown_connecting_dtp()
        if self.data_channel is not None:
            self.data_channel.close()
            self.data_channel = None
        self.port_address = (address, port)
        self.respond("200 PORT subcommand request successful.")

    def store_file(self, target):
        try:
            library, name = file_of(target, self.current_library or DEFAULT_LIBRARY)
        except ClError as error:
            self.respond("550 " + error.messages[0])
            return
        if not self.store.library_exists(library):
            self.respond("550 Library %s not found." % library)
            return
        passive = self.data_channel is not None or self._dtp_acceptor is not None
        if self.options.refuse_data_connect or not (passive or self.port_address):
            self.port_address = None
            self.respond(NO_DATA_CONNECTION)
            return
        if self.options.no_data_connect:
            # The host takes the transfer on and then never opens or reads the data
            # connection; the client is left waiting.
            self.port_address = None
            self.respond("150 Sending file to save file %s in library %s." % (name, library))
            return
        try:
            target_file = open(self.store.save_file_path(library, name), "wb")
        except OSError as error:
            self.respond("550 %s." % error.strerror)
            return
        if self.data_channel is not None:
            self.respond("125 Data connection already open; transfer starting.")
            self.data_channel.file_obj = target_file
            self.data_channel.enable_receiving(self._current_type, "STOR")
            return
        self.respond("150 Sending file to save file %s in library %s." % (name, library))
        self._in_dtp_queue = (target_file, "STOR")
        if not passive:
            address, port = self.port_address
            self.port_address = None
            self.connect_back(address, port)

    def data_connection_failed(self):
        if self._in_dtp_queue is not None:
            self._in_dtp_queue[0].close()
            self._in_dtp_queue = None
        if self.connected:
            self.respond(NO_DATA_CONNECTION)

    def final_upload_reply(self):
        if self.options.no_final_reply:
            return None
        return self.options.stor_final_reply or TRANSFER_COMPLETE


def library_of(target):
    """CWD target: LIB, or /QSYS.LIB/LIB.LIB as in name format 1."""
    text = target.strip()
    if text.startswith("/"):
        parts = [to_upper(p) for p in text.split("/") if p]
        if len(parts) != 2 or parts[0] != "QSYS.LIB" or not parts[1].endswith(".LIB"):
            raise ClError("not a library")
        text = parts[1][: -len(".LIB")]
    return check_name(text, "Library")


def file_of(target, current_library):
    """STOR target: FILE, LIB/FILE, LIB/FILE.MBR or /QSYS.LIB/LIB.LIB/FILE.SAVF."""
    text = target.strip()
    if text.startswith("/"):
        parts = [to_upper(p) for p in text.split("/") if p]
        if (
            len(parts) not in (3, 4)
            or parts[0] != "QSYS.LIB"
            or not parts[1].endswith(".LIB")
            or not parts[2].endswith((".FILE", ".SAVF"))
        ):
            raise ClError("Path name %s not valid." % text)
        library = parts[1][: -len(".LIB")]
        name = parts[2].rpartition(".")[0]
    else:
        library, sep, name = text.partition("/")
        if not sep:
            library, name = current_library, text
        name = name.partition(".")[0]
    return check_name(library, "Library"), check_name(name, "File")
