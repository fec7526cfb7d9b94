"""FTP over TLS for the host: explicit (AUTH TLS on the normal port, RFC 4217) or
implicit (TLS from the first byte), on top of pyftpdlib's TLS handler (python3-openssl).

The host is strict, as an IBM i that requires TLS is: USER and PASS are refused until
the control connection is secured, PASV and PORT until PROT P, and every data
connection is TLS, the host being the TLS server whichever side connects. Everything
else (RCMD, SITE NAMEFMT, STOR into libraries, the connection back after PORT, the
faults, the command record) is the host's behaviour of ftp_session unchanged.

It can also play a host that gets TLS wrong, for the client's failure paths:
  refuse-auth        AUTH TLS is refused (explicit only)
  plain-text         explicit: AUTH TLS gets 234, and the client's hello a plain reply line;
                     implicit: the plain greeting instead of a handshake
  stall-handshake    the client's hello is taken and never answered
  garbage-handshake  the client's hello gets bytes that are no TLS record
"""

import os

from OpenSSL import SSL
from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.ioloop import AsyncChat

from .ftp_session import HostDTPHandler

MODES = ("explicit", "implicit")
FAULTS = ("refuse-auth", "plain-text", "stall-handshake", "garbage-handshake")
VERSIONS = {"1.2": SSL.TLS1_2_VERSION, "1.3": SSL.TLS1_3_VERSION}

AUTH_REFUSED = "534 Request denied for policy reasons."
PLAIN_TEXT = "200 Plain text from here on."
GARBAGE = b"\xde\xad\xbe\xef" * 16
DATA_NEEDS_TLS = "550 SSL/TLS required on the data channel."


class TlsHostDTPHandler(TLS_DTPHandler, HostDTPHandler):
    """A data connection secured under PROT P; its end is answered as the host does.

    Listed before HostDTPHandler so that the TLS layer's end-of-stream handling, which
    calls the next class's handle_close, lands on the host's own.
    """


class TlsHostMixin:
    """Goes in front of the configured host session and pyftpdlib's TLS handler."""

    tls_control_required = True
    tls_data_required = True
    dtp_handler = TlsHostDTPHandler
    tls_mode = "explicit"
    tls_fault = None

    # --- the start of a session

    def handle(self):
        if self.tls_mode == "implicit" and self.tls_fault != "plain-text":
            # The greeting follows the handshake (handle_ssl_established).
            if not self.play_handshake_fault():
                self.secure_connection(self.ssl_context)
            return
        super().handle()

    _greeted = False

    def handle_ssl_established(self):
        if self.tls_mode == "implicit" and not self._greeted:
            self._greeted = True
            super().handle()

    # --- explicit TLS

    def ftp_AUTH(self, line):
        fault = self.tls_fault
        if fault == "refuse-auth":
            self.respond(AUTH_REFUSED)
            return
        if fault is None or isinstance(self.socket, SSL.Connection):
            super().ftp_AUTH(line)
            return
        if line.upper() not in ("TLS", "TLS-C", "SSL", "TLS-P"):
            super().ftp_AUTH(line)
            return
        self.respond("234 AUTH %s successful." % line.upper())
        self.play_handshake_fault()

    _answer_to_hello = None  # what the client's hello gets instead of the host's

    def play_handshake_fault(self):
        """Plays the chosen fault where the handshake should be; False when none is chosen.

        The wrong answer waits for the client's hello, so that it is what the client reads
        in place of the host's hello, however the client buffers its reading.
        """
        if self.tls_fault == "plain-text":
            self._answer_to_hello = PLAIN_TEXT
        elif self.tls_fault == "garbage-handshake":
            self._answer_to_hello = GARBAGE
        elif self.tls_fault != "stall-handshake":
            return False
        self.silent = self.tls_fault != "plain-text"  # still recorded, never answered
        return True

    def collect_incoming_data(self, data):
        answer, self._answer_to_hello = self._answer_to_hello, None
        if isinstance(answer, bytes):
            AsyncChat.push(self, answer)
        elif answer is not None:
            self.respond(answer)
        super().collect_incoming_data(data)

    # --- the host's own data commands go past pyftpdlib's checks, so they check here

    def record_port(self, arg):
        if self.tls_data_required and not self._prot:
            self.respond(DATA_NEEDS_TLS)
            return
        super().record_port(arg)


def make_ssl_context(options):
    context = SSL.Context(SSL.TLS_METHOD)
    context.set_options(SSL.OP_NO_COMPRESSION | SSL.OP_NO_RENEGOTIATION)
    context.set_min_proto_version(SSL.TLS1_2_VERSION)
    if options.tls_max_version:
        context.set_max_proto_version(VERSIONS[options.tls_max_version])
    key = options.key or options.cert
    for path in (options.cert, key):
        if not os.access(path, os.R_OK):
            raise ValueError("cannot read %s" % path)
    try:
        context.use_certificate_chain_file(options.cert)
        context.use_privatekey_file(key)
        context.check_privatekey()
    except SSL.Error as error:
        reasons = [r for _, _, r in error.args[0] if r] if error.args else []
        raise ValueError("the certificate %s with the key %s cannot be used (%s)"
                         % (options.cert, key, ", ".join(reasons) or "not readable")) from None
    # Data connections resume the control connection's session from this context.
    context.set_session_id(b"host-emulator")
    return context


def secure_session_class(session_class, options):
    """The host session of session_class, speaking FTP over TLS as options choose."""
    return type("TlsConfiguredHostSession", (TlsHostMixin, session_class, TLS_FTPHandler), {
        "tls_mode": options.tls,
        "tls_fault": options.tls_fault,
        "ssl_context": make_ssl_context(options),
    })
