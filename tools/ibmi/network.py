"""Where the host listens, and its data connections beyond IPv4: EPRT and EPSV (RFC 2428)
over IPv6, and the faults that make the connection back to the client impossible.

EPRT behaves as the host's PORT does: it only records the client's address, and the
host connects back once it has answered STOR with 150. EPSV opens a passive data
connection as PASV does, answering with the port only.
"""

import errno
import socket

from pyftpdlib.servers import FTPServer

LOOPBACK_IPV4 = "127.0.0.1"
NO_DATA_CONNECTION = "425 Unable to open data connection."
WRONG_FAMILY = "522 Network protocol not supported, use (%d)"
CONNECT_BACK_MODES = ("normal", "refused", "never")


def add_network_options(parser):
    group = parser.add_argument_group("network")
    group.add_argument("--listen", action="append", default=[], metavar="ADDRESS",
                       help="listen on this address, e.g. ::1 (repeatable; all share the one "
                       "port; default %s). Beyond loopback, for private network namespaces "
                       "only" % LOOPBACK_IPV4)
    group.add_argument("--connect-back", choices=CONNECT_BACK_MODES, default="normal",
                       help="active data connections (PORT, EPRT): 'refused' connects back to a "
                       "port of the client's address where nothing listens, 'never' does not "
                       "connect back at all; passive ones always work")
    group.add_argument("--connect-back-give-up", type=float, metavar="SECONDS",
                       help="with --connect-back never: answer 425 this long after STOR's 150 "
                       "(without it, no final reply comes)")


def check_network_options(parser, options):
    options.listen = options.listen or [LOOPBACK_IPV4]
    for address in options.listen:
        if family_of(address) is None:
            parser.error("--listen needs an IPv4 or IPv6 address, not %r" % address)
    if options.connect_back_give_up is not None and (
        options.connect_back != "never" or options.connect_back_give_up < 0
    ):
        parser.error("--connect-back-give-up needs --connect-back never and 0 seconds or more")


def family_of(address):
    for family in (socket.AF_INET, socket.AF_INET6):
        try:
            socket.inet_pton(family, address)
            return family
        except (OSError, ValueError):
            pass
    return None


def same_address(first, second):
    family = family_of(first)
    return family is not None and family == family_of(second) and (
        socket.inet_pton(family, first) == socket.inet_pton(family, second))


def shown(address, port):
    return ("[%s]:%d" if ":" in address else "%s:%d") % (address, port)


def _listening_socket(address, port):
    family = family_of(address)
    sock = socket.socket(family, socket.SOCK_STREAM)
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if family == socket.AF_INET6:
            # Each address family is a listener of its own: IPv4 clients never appear as
            # mapped IPv6 addresses, so PORT and EPRT compare plain addresses.
            sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
        sock.bind((address, port))
        sock.listen(100)
    except OSError:
        sock.close()
        raise
    return sock


def open_listeners(addresses, port, handler):
    """One server per address, all on one event loop and one port (the first address's,
    which the system picks when port is 0). Raises OSError naming the address that failed."""
    servers = []
    try:
        for address in addresses:
            try:
                sock = _listening_socket(address, port)
            except OSError as error:
                error.address = shown(address, port)
                raise
            port = sock.getsockname()[1]
            servers.append(FTPServer(sock, handler))
    except OSError:
        for server in servers:
            server.close()
        raise
    return servers, port


class DataConnections:
    """The session's part for EPRT, EPSV, PASV over IPv6 and the connection back to the
    client with its faults. Mixed into the host session before pyftpdlib's handler."""

    _refusing_socket = None
    _give_up_call = None

    def client_ip(self):
        return self.remote_ip

    def over_ipv6(self):
        return self.socket.family == socket.AF_INET6

    def cancel_give_up(self):
        if self._give_up_call is not None and not self._give_up_call.cancelled:
            self._give_up_call.cancel()
        self._give_up_call = None

    def ftp_PASV(self, line):
        self.cancel_give_up()
        if self.over_ipv6():
            # A PASV reply can only name an IPv4 address.
            self.respond("501 PASV subcommand not valid on an IPv6 connection; use EPSV.")
            return
        super().ftp_PASV(line)

    def ftp_EPSV(self, line):
        self.cancel_give_up()
        self.port_address = None
        super().ftp_EPSV(line)

    def ftp_ABOR(self, line):
        """A STOR that is still waiting for its connection back ends as RFC 959 says: the
        transfer's 426, then ABOR's own 226; it leaves no late 425 behind."""
        waiting = (self._in_dtp_queue is not None and self.data_channel is None
                   and self._dtp_acceptor is None)
        if not waiting:
            super().ftp_ABOR(line)
            return
        self.cancel_give_up()
        self._shutdown_connecting_dtp()
        self._in_dtp_queue[0].close()
        self._in_dtp_queue = None
        self.respond("426 Data transfer ended.")
        self.respond("226 ABOR subcommand request successful.")

    def record_eprt(self, arg):
        """EPRT |1|a.b.c.d|port| or |2|v6-address|port|: recorded, as PORT is."""
        self.cancel_give_up()
        parts = arg.split(arg[0]) if arg else []
        if len(parts) != 5 or parts[0] or parts[4] or parts[1] not in ("1", "2"):
            self.respond("501 EPRT subcommand parameter not valid.")
            return
        wanted = 2 if self.over_ipv6() else 1
        if int(parts[1]) != wanted:
            self.respond(WRONG_FAMILY % wanted)
            return
        address, port_text = parts[2], parts[3]
        port = int(port_text) if port_text.isdigit() and len(port_text) <= 5 else -1
        # The connection back goes only to the client itself, never to a third host.
        if not same_address(address, self.client_ip()) or not 1024 <= port <= 65535:
            self.respond("501 EPRT subcommand parameter not valid.")
            return
        self._shutdown_connecting_dtp()
        if self.data_channel is not None:
            self.data_channel.close()
            self.data_channel = None
        self.port_address = (self.client_ip(), port)
        self.respond("200 EPRT subcommand request successful.")

    def connect_back(self, address, port):
        """Opens the active data connection once STOR is answered, or plays the fault."""
        self.cancel_give_up()
        mode = self.options.connect_back
        if mode == "never":
            seconds = self.options.connect_back_give_up
            if seconds is not None:
                self._give_up_call = self.ioloop.call_later(seconds, self.data_connection_failed)
            return
        if mode == "refused":
            port = self._port_where_nothing_listens(address)
            if port is None:
                self.data_connection_failed()
                return
        self._dtp_connector = self.active_dtp(address, port, self)

    def _port_where_nothing_listens(self, address):
        # A socket bound but never listening holds the port, so the connection is refused
        # for certain; only possible where the client's address is one of this machine's.
        self._close_refusing_socket()
        try:
            sock = socket.socket(family_of(address), socket.SOCK_STREAM)
        except OSError:
            return None
        try:
            sock.bind((address, 0))
        except OSError as error:
            sock.close()
            if error.errno != errno.EADDRNOTAVAIL:
                raise
            return None
        self._refusing_socket = sock
        return sock.getsockname()[1]

    def _close_refusing_socket(self):
        if self._refusing_socket is not None:
            self._refusing_socket.close()
            self._refusing_socket = None

    def close(self):
        self.cancel_give_up()
        self._close_refusing_socket()
        super().close()
