"""The host over IPv6 and with a connection back that cannot be made: EPRT and EPSV,
listening on several addresses, and the faults that a client's fallback to passive
data connections is tested against."""

import ftplib
import io
import pathlib
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from emulator_process import WAIT_LIMIT_S, EmulatorProcess, reply_error

ADDRESSES = ("127.0.0.1", "::1")
QUIET_LOOK_S = 0.3
GIVE_UP_S = 0.5


class Network(unittest.TestCase):
    def start(self, *options):
        self.host = EmulatorProcess("--listen", "127.0.0.1", "--listen", "::1", *options)
        self.addCleanup(self.host.stop)

    def connect(self, address):
        ftp = self.host.connect(address=address)
        self.addCleanup(ftp.close)
        return ftp

    def test_both_modes_over_both_addresses_store_every_byte(self):
        # ftplib uses PORT/PASV over IPv4 and EPRT/EPSV over IPv6, as an installer would.
        self.start()
        content = bytes(range(256)) * 1000
        for address in ADDRESSES:
            for passive in (False, True):
                with self.subTest(address=address, passive=passive):
                    ftp = self.connect(address)
                    ftp.set_pasv(passive)
                    name = "F%d%d" % (ADDRESSES.index(address), passive)
                    self.assertEqual(ftp.storbinary("STOR KDXSUPPT/" + name, io.BytesIO(content)),
                                     "250 File transfer completed successfully.")
                    self.assertEqual(self.host.stored("KDXSUPPT", name), content)
        data_commands = [c.split(" ")[0] for c in self.host.commands()
                         if c[:4] in ("PORT", "PASV", "EPRT", "EPSV")]
        self.assertEqual(data_commands, ["PORT", "PASV", "EPRT", "EPSV"])

    def test_eprt_is_recorded_only_for_the_client_itself_in_its_own_family(self):
        self.start()
        cases = [
            ("127.0.0.1", "EPRT |1|127.0.0.1|5000|", "200 EPRT subcommand request successful."),
            ("::1", "EPRT |2|0:0::1|5000|", "200 EPRT subcommand request successful."),
            ("::1", "EPRT |1|127.0.0.1|5000|", "522 Network protocol not supported, use (2)"),
            ("127.0.0.1", "EPRT |2|::1|5000|", "522 Network protocol not supported, use (1)"),
            ("::1", "EPRT |2|::2|5000|", "501 EPRT subcommand parameter not valid."),
            ("::1", "EPRT |2|::1|1023|", "501 EPRT subcommand parameter not valid."),
            ("::1", "EPRT |2|::1|65536|", "501 EPRT subcommand parameter not valid."),
            ("::1", "EPRT |3|::1|5000|", "501 EPRT subcommand parameter not valid."),
            ("::1", "EPRT |2|::1|5000", "501 EPRT subcommand parameter not valid."),
            ("::1", "EPRT ", "501 EPRT subcommand parameter not valid."),
            ("::1", "PASV", "501 PASV subcommand not valid on an IPv6 connection; use EPSV."),
        ]
        for address, command, reply in cases:
            with self.subTest(command=command, address=address):
                ftp = self.connect(address)
                try:
                    self.assertEqual(ftp.sendcmd(command), reply)
                except ftplib.Error as error:
                    self.assertEqual(str(error), reply)

    def test_refused_connect_back_answers_425_and_passive_still_stores(self):
        self.start("--connect-back", "refused")
        for address in ADDRESSES:
            with self.subTest(address=address):
                ftp = self.connect(address)
                listener = ftp.makeport()
                self.addCleanup(listener.close)
                self.assertEqual(ftp.sendcmd("STOR KDXSUPPT/X")[:4], "150 ")
                self.assertEqual(reply_error(ftp.voidresp), "425 Unable to open data connection.")
                listener.settimeout(QUIET_LOOK_S)
                with self.assertRaises(socket.timeout):
                    listener.accept()
                ftp.set_pasv(True)
                ftp.storbinary("STOR KDXSUPPT/X", io.BytesIO(b"whole"))
                self.assertEqual(self.host.stored("KDXSUPPT", "X"), b"whole")

    def test_never_connecting_back_is_silent_or_gives_up_with_425(self):
        for give_up in (None, GIVE_UP_S):
            with self.subTest(give_up=give_up):
                extra = () if give_up is None else ("--connect-back-give-up", str(give_up))
                self.start("--connect-back", "never", *extra)
                ftp = self.connect("::1")
                listener = ftp.makeport()
                self.addCleanup(listener.close)
                self.assertEqual(ftp.sendcmd("STOR KDXSUPPT/X")[:4], "150 ")
                listener.settimeout(QUIET_LOOK_S if give_up is None else GIVE_UP_S * 2)
                with self.assertRaises(socket.timeout):
                    listener.accept()
                if give_up is None:
                    ftp.sock.settimeout(QUIET_LOOK_S)
                    with self.assertRaises(socket.timeout):
                        ftp.sock.recv(100)
                    ftp.sock.settimeout(WAIT_LIMIT_S)
                    continue
                self.assertEqual(reply_error(ftp.voidresp), "425 Unable to open data connection.")
                ftp.set_pasv(True)
                ftp.storbinary("STOR KDXSUPPT/X", io.BytesIO(b"whole"))
                self.assertEqual(self.host.stored("KDXSUPPT", "X"), b"whole")

    def test_a_give_up_is_dropped_once_the_client_moves_on(self):
        self.start("--connect-back", "never", "--connect-back-give-up", str(GIVE_UP_S))
        ftp = self.connect("127.0.0.1")
        ftp.makeport().close()
        self.assertEqual(ftp.sendcmd("STOR KDXSUPPT/X")[:4], "150 ")
        # A client that gives up first and goes passive must not get a late 425 as the
        # reply of a later command.
        self.assertEqual(ftp.sendcmd("PASV")[:4], "227 ")
        time.sleep(GIVE_UP_S * 2)
        self.assertEqual(ftp.sendcmd("NOOP"), "200 NOOP subcommand received.")

    def test_abor_ends_a_store_waiting_for_its_connection_back_with_nothing_late(self):
        self.start("--connect-back", "never", "--connect-back-give-up", str(GIVE_UP_S))
        ftp = self.connect("::1")
        ftp.makeport().close()
        self.assertEqual(ftp.sendcmd("STOR KDXSUPPT/X")[:4], "150 ")
        # The transfer's 426, then ABOR's own 226.
        self.assertEqual(reply_error(ftp.sendcmd, "ABOR"), "426 Data transfer ended.")
        self.assertEqual(ftp.voidresp(), "226 ABOR subcommand request successful.")
        time.sleep(GIVE_UP_S * 2)
        self.assertEqual(ftp.sendcmd("NOOP"), "200 NOOP subcommand received.")

    def test_listen_needs_addresses_and_reports_the_one_it_cannot_take(self):
        with self.assertRaises(RuntimeError) as raised:
            EmulatorProcess("--listen", "localhost").stop()
        self.assertIn("--listen needs an IPv4 or IPv6 address", str(raised.exception))
        with self.assertRaises(RuntimeError) as raised:
            EmulatorProcess("--listen", "::1", "--listen", "192.0.2.1").stop()
        self.assertIn("cannot listen on 192.0.2.1:", str(raised.exception))


class PlainServerOverIpv6(unittest.TestCase):
    def test_the_plain_server_on_ipv6_loopback_stores_in_both_modes(self):
        script = pathlib.Path(__file__).resolve().parents[1] / "support" / "real_ftp_server.py"
        home = tempfile.TemporaryDirectory(prefix="real-ftp-server-test-")
        self.addCleanup(home.cleanup)
        server = subprocess.Popen([sys.executable, str(script), home.name, "u", "p", "::1"],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(server.wait, WAIT_LIMIT_S)
        self.addCleanup(server.stdout.close)
        self.addCleanup(server.stdin.close)  # the server ends when its input closes
        port = int(server.stdout.readline().split()[1])
        ftp = ftplib.FTP(timeout=WAIT_LIMIT_S)
        ftp.connect("::1", port)
        self.addCleanup(ftp.close)
        ftp.login("u", "p")
        for passive in (False, True):
            ftp.set_pasv(passive)
            ftp.storbinary("STOR f%d" % passive, io.BytesIO(b"both"))
            self.assertEqual((pathlib.Path(home.name) / ("f%d" % passive)).read_bytes(), b"both")


if __name__ == "__main__":
    unittest.main()
