"""Faults the host can be told to play, for the installer's failure paths.

A host that must stay silent is checked after the record shows it received the
command: had it answered, the answer would already be on its way, so a short look
at the socket can only miss a wrong answer on a very slow machine, never fail a
right one.
"""

import io
import socket
import unittest

from emulator_process import WAIT_LIMIT_S, EmulatorProcess, reply_error

QUIET_LOOK_S = 0.3


class Faults(unittest.TestCase):
    def start(self, *options):
        self.host = EmulatorProcess(*options)
        self.addCleanup(self.host.stop)

    def connect(self, **kwargs):
        ftp = self.host.connect(**kwargs)
        self.addCleanup(ftp.close)
        return ftp

    def assert_nothing_arrives(self, sock):
        sock.settimeout(QUIET_LOOK_S)
        with self.assertRaises(socket.timeout):
            data = sock.recv(100)
            self.fail("host answered %r" % data)
        sock.settimeout(WAIT_LIMIT_S)

    def send_unanswered(self, ftp, command):
        count = len(self.host.commands())
        ftp.putcmd(command)
        self.host.wait_for_command(count + 1)
        self.assert_nothing_arrives(ftp.sock)

    def test_silent_after_command_answers_the_first_n_then_nothing(self):
        self.start("--silent-after-command", "3")
        ftp = self.connect()
        self.assertEqual(ftp.sendcmd("NOOP")[:3], "200")
        self.send_unanswered(ftp, "NOOP")
        self.send_unanswered(ftp, "QUIT")
        self.assertEqual(self.host.commands()[-2:], ["NOOP", "QUIT"])
        # Each session counts its own commands.
        self.assertEqual(self.connect().sendcmd("NOOP")[:3], "200")

    def test_silent_on_stops_answering_from_the_matching_command_on(self):
        self.start("--silent-on", "RCMD CHKOBJ")
        ftp = self.connect()
        self.assertEqual(ftp.sendcmd("rcmd chgjob log(4 00 *seclvl)")[:3], "250")
        self.send_unanswered(ftp, "rcmd chkobj obj(KDXSUPPT/X) objtype(*FILE)")
        self.send_unanswered(ftp, "NOOP")

    def test_close_on_drops_the_connection_without_a_reply(self):
        self.start("--close-on", "clrsavf")
        ftp = self.connect()
        ftp.putcmd("rcmd clrsavf file(KDXSUPPT/W_CHKLCKSF)")
        ftp.sock.settimeout(WAIT_LIMIT_S)
        self.assertEqual(ftp.sock.recv(100), b"")

    def test_reply_to_answers_with_the_given_lines_and_does_nothing_else(self):
        self.start("--reply-to", "quit", "500 QUIT refused.", "--reply-to", "crtsavf",
                   "550-CPF9999: One.\n550 Two.")
        ftp = self.connect()
        self.assertEqual(reply_error(ftp.sendcmd, "rcmd crtsavf file(KDXSUPPT/X)"),
                         "550-CPF9999: One.\n550 Two.")
        self.assertFalse(self.host.exists("KDXSUPPT", "X"))
        self.assertEqual(reply_error(ftp.quit), "500 QUIT refused.")

    def test_no_greeting_accepts_the_connection_and_never_answers(self):
        self.start("--no-greeting")
        with socket.create_connection(("127.0.0.1", self.host.port), WAIT_LIMIT_S) as s:
            self.assert_nothing_arrives(s)
            s.sendall(b"USER QSECOFR\r\n")
            self.host.wait_for_command(1)
            # Only the greeting is left out; the session itself works.
            s.settimeout(WAIT_LIMIT_S)
            self.assertEqual(s.recv(100), b"331 Enter password.\r\n")

    def test_greeting_can_refuse_the_session(self):
        self.start("--greeting", "421-Host busy.\n421 Try later.")
        with socket.create_connection(("127.0.0.1", self.host.port), WAIT_LIMIT_S) as s:
            reader = s.makefile("rb")
            self.assertEqual(reader.readline(), b"421-Host busy.\r\n")
            self.assertEqual(reader.readline(), b"421 Try later.\r\n")

    def test_no_data_connect_active_answers_150_and_never_connects_back(self):
        self.start("--no-data-connect")
        ftp = self.connect()
        listener = ftp.makeport()
        self.addCleanup(listener.close)
        self.assertEqual(ftp.sendcmd("STOR KDXSUPPT/X")[:4], "150 ")
        listener.settimeout(QUIET_LOOK_S)
        with self.assertRaises(socket.timeout):
            listener.accept()
        self.assert_nothing_arrives(ftp.sock)

    def test_no_data_connect_passive_answers_150_and_never_ends_the_transfer(self):
        self.start("--no-data-connect")
        ftp = self.connect()
        host, port = ftp.makepasv()
        data = socket.create_connection((host, port), WAIT_LIMIT_S)
        self.assertEqual(ftp.sendcmd("STOR KDXSUPPT/X")[:4], "150 ")
        data.sendall(b"content")
        data.close()
        self.assert_nothing_arrives(ftp.sock)
        self.assertFalse(self.host.exists("KDXSUPPT", "X"))

    def test_refuse_data_connect_answers_425_and_stores_nothing(self):
        self.start("--refuse-data-connect")
        ftp = self.connect()
        for passive in (False, True):
            ftp.set_pasv(passive)
            self.assertEqual(
                reply_error(ftp.storbinary, "STOR KDXSUPPT/X", io.BytesIO(b"x")),
                "425 Unable to open data connection.",
            )
        self.assertFalse(self.host.exists("KDXSUPPT", "X"))
        self.assertEqual(ftp.sendcmd("NOOP")[:3], "200")

    def test_stor_final_reply_replaces_the_completion_reply(self):
        self.start("--stor-final-reply", "452 Insufficient storage space in system.")
        ftp = self.connect()
        ftp.set_pasv(False)
        self.assertEqual(
            reply_error(ftp.storbinary, "STOR KDXSUPPT/X", io.BytesIO(b"abc")),
            "452 Insufficient storage space in system.",
        )

    def test_no_final_reply_takes_the_data_and_never_answers(self):
        self.start("--no-final-reply")
        ftp = self.connect()
        ftp.set_pasv(False)
        ftp.voidcmd("TYPE I")
        with ftp.transfercmd("STOR KDXSUPPT/X") as data:
            data.sendall(b"abc")
        self.assert_nothing_arrives(ftp.sock)
        self.assertEqual(self.host.stored("KDXSUPPT", "X"), b"abc")

    def test_a_refused_connection_to_the_port_address_is_answered_425(self):
        self.start()
        ftp = self.connect()
        listener = ftp.makeport()
        listener.close()  # nobody listens on the announced port any more
        self.assertEqual(ftp.sendcmd("STOR KDXSUPPT/X")[:4], "150 ")
        self.assertEqual(reply_error(ftp.voidresp), "425 Unable to open data connection.")
        self.assertEqual(ftp.sendcmd("NOOP")[:3], "200")


class StartUp(unittest.TestCase):
    def test_a_port_in_use_is_reported_and_ends_the_emulator(self):
        first = EmulatorProcess()
        self.addCleanup(first.stop)
        with self.assertRaises(RuntimeError) as raised:
            EmulatorProcess("--port", str(first.port)).stop()
        self.assertIn("cannot listen on 127.0.0.1:%d" % first.port, str(raised.exception))

    def test_a_library_name_that_could_leave_the_root_is_refused_at_start(self):
        with self.assertRaises(RuntimeError) as raised:
            EmulatorProcess("--library", "../OUTSIDE").stop()
        self.assertIn("Value '../OUTSIDE' for library name not valid", str(raised.exception))


if __name__ == "__main__":
    unittest.main()
