"""The host's FTP side: greeting, log-on, name format, libraries, uploads, the record."""

import io
import os
import socket
import unittest

from emulator_process import PASSWORD, WAIT_LIMIT_S, EmulatorProcess, reply_error


class GreetingAndLogOn(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = EmulatorProcess("--system-name", "AS400A")

    @classmethod
    def tearDownClass(cls):
        cls.host.stop()

    def test_greeting_is_two_lines_the_first_naming_the_host(self):
        with socket.create_connection(("127.0.0.1", self.host.port), WAIT_LIMIT_S) as s:
            reader = s.makefile("rb")
            self.assertEqual(reader.readline(), b"220-QTCP at AS400A.\r\n")
            self.assertEqual(
                reader.readline(), b"220 Connection will close if idle more than 5 minutes.\r\n"
            )

    def test_user_profile_is_case_insensitive_and_logs_on(self):
        ftp = self.host.connect(user=None)
        self.assertEqual(ftp.sendcmd("USER qsecofr"), "331 Enter password.")
        self.assertEqual(ftp.sendcmd("PASS " + PASSWORD), "230 QSECOFR logged on.")
        ftp.quit()

    def test_wrong_password_or_user_is_refused_with_530_and_the_session_stays_usable(self):
        ftp = self.host.connect(user=None)
        ftp.sendcmd("USER QSECOFR")
        self.assertEqual(
            reply_error(ftp.sendcmd, "PASS " + PASSWORD.lower()),
            "530 Log on attempt by user QSECOFR rejected.",
        )
        ftp.sendcmd("USER OTHER")
        self.assertTrue(reply_error(ftp.sendcmd, "PASS " + PASSWORD).startswith("530 "))
        ftp.login("QSECOFR", PASSWORD)
        ftp.quit()

    def test_host_commands_need_a_log_on(self):
        ftp = self.host.connect(user=None)
        for command in ("RCMD CHGJOB LOG(4 00 *SECLVL)", "CWD KDXSUPPT", "STOR X", "PORT 1,2,3,4,5,6"):
            self.assertTrue(reply_error(ftp.sendcmd, command).startswith("530 "), command)
        ftp.close()

    def test_stray_line_breaks_in_a_command_never_split_its_reply(self):
        with socket.create_connection(("127.0.0.1", self.host.port), WAIT_LIMIT_S) as s:
            reader = s.makefile("rb")
            reader.readline()
            reader.readline()
            s.sendall(b"FOO\nBAR\r\r\nTYPE X\x00\nY\r\nNOOP\r\n")
            self.assertEqual(reader.readline(), b'500 Command "FOO?BAR?" not understood.\r\n')
            self.assertEqual(reader.readline(), b"530 Log in with USER and PASS first.\r\n")
            self.assertEqual(reader.readline(), b"200 NOOP subcommand received.\r\n")

    def test_quit_is_answered_221(self):
        ftp = self.host.connect()
        self.assertEqual(ftp.quit(), "221 QUIT subcommand received.")


class NameFormatAndLibraries(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = EmulatorProcess("--library", "mylib")

    @classmethod
    def tearDownClass(cls):
        cls.host.stop()

    def setUp(self):
        self.ftp = self.host.connect()

    def tearDown(self):
        self.ftp.close()

    def test_namefmt_0_and_1_are_accepted_and_change_the_directory_form(self):
        self.assertEqual(self.ftp.sendcmd("site namefmt 0"), '250  Now using naming format "0".')
        self.assertEqual(self.ftp.sendcmd("CWD kdxsuppt"), '250 "KDXSUPPT" is current library.')
        self.assertEqual(self.ftp.sendcmd("site namefmt 1"), '250  Now using naming format "1".')
        self.assertEqual(
            self.ftp.sendcmd("CWD /qsys.lib/MYLIB.lib"),
            '250 "/QSYS.LIB/MYLIB.LIB" is current directory.',
        )
        self.assertEqual(self.ftp.sendcmd("PWD"), '257 "/QSYS.LIB/MYLIB.LIB" is current directory.')

    def test_type_answers_as_the_host_does(self):
        self.assertEqual(self.ftp.sendcmd("TYPE I"), "200 Representation type is binary IMAGE.")
        self.assertEqual(self.ftp.sendcmd("type a"), "200 Representation type is ASCII nonprint.")
        self.assertTrue(reply_error(self.ftp.sendcmd, "TYPE E").startswith("504 "))

    def test_namefmt_other_values_are_refused(self):
        self.assertTrue(reply_error(self.ftp.sendcmd, "SITE NAMEFMT 2").startswith("501 "))

    def test_cwd_to_a_missing_or_invalid_library_fails_and_keeps_the_current_one(self):
        self.ftp.sendcmd("CWD MYLIB")
        for target in ("NOSUCHLIB", "", "..", "../MYLIB", "TOOLONGNAME1", "/QSYS.LIB"):
            self.assertEqual(
                reply_error(self.ftp.sendcmd, "CWD " + target),
                "550 Specified directory does not exist or cannot be accessed.",
                target,
            )
        self.assertEqual(self.ftp.sendcmd("PWD"), '257 "MYLIB" is current library.')


class Uploads(unittest.TestCase):
    # Every byte value, CR LF pairs and lone CRs and LFs, more than one 64 KiB block.
    CONTENT = bytes(range(256)) * 300 + b"\r\n\r\r\n\n" + os.urandom(70000)

    @classmethod
    def setUpClass(cls):
        cls.host = EmulatorProcess()

    @classmethod
    def tearDownClass(cls):
        cls.host.stop()

    def setUp(self):
        self.ftp = self.host.connect()
        self.ftp.sendcmd("TYPE I")
        self.ftp.sendcmd("CWD KDXSUPPT")

    def tearDown(self):
        self.ftp.close()

    def store(self, name, content, passive):
        self.ftp.set_pasv(passive)
        return self.ftp.storbinary("STOR " + name, io.BytesIO(content))

    def test_active_upload_to_lib_file_keeps_every_byte(self):
        reply = self.store("KDXSUPPT/W_CHKLCKSF", self.CONTENT, passive=False)
        self.assertEqual(reply, "250 File transfer completed successfully.")
        self.assertEqual(self.host.stored("KDXSUPPT", "W_CHKLCKSF"), self.CONTENT)

    def test_passive_upload_of_a_bare_name_lands_in_the_current_library(self):
        self.store("upd0042", self.CONTENT[:1000], passive=True)
        self.assertEqual(self.host.stored("KDXSUPPT", "UPD0042"), self.CONTENT[:1000])

    def test_member_and_path_forms_name_the_same_save_file(self):
        self.store("QGPL/SAVE1.MBR1", b"one", passive=False)
        self.assertEqual(self.host.stored("QGPL", "SAVE1"), b"one")
        self.store("/QSYS.LIB/QGPL.LIB/SAVE1.SAVF", b"two", passive=True)
        self.assertEqual(self.host.stored("QGPL", "SAVE1"), b"two")

    def test_empty_upload_makes_an_empty_save_file(self):
        self.store("EMPTY", b"", passive=False)
        self.assertEqual(self.host.stored("KDXSUPPT", "EMPTY"), b"")

    def test_stor_into_a_missing_library_or_with_a_bad_name_is_refused_and_writes_nothing(self):
        for name in ("NOSUCHLIB/FILE", "../../escape", "KDXSUPPT/../X", "A/B/C"):
            self.assertTrue(reply_error(self.store, name, b"x", False).startswith("550 "), name)
        self.assertFalse(self.host.exists("NOSUCHLIB", "FILE"))
        self.assertFalse((self.host.root.parent / "escape").exists())
        self.assertEqual(self.ftp.sendcmd("NOOP")[:3], "200")

    def test_stor_without_port_or_pasv_is_refused_with_425(self):
        self.assertEqual(
            reply_error(self.ftp.sendcmd, "STOR NODATA"), "425 Unable to open data connection."
        )

    def test_port_to_another_address_is_refused(self):
        self.assertTrue(reply_error(self.ftp.sendcmd, "PORT 10,0,0,1,200,10").startswith("501 "))
        self.assertTrue(reply_error(self.ftp.sendcmd, "PORT 127,0,0,1,300,1").startswith("501 "))


class CommandRecord(unittest.TestCase):
    def setUp(self):
        self.host = EmulatorProcess()

    def tearDown(self):
        self.host.stop()

    def test_every_command_is_recorded_in_order_exactly_as_received(self):
        ftp = self.host.connect()
        # Text that is no command still arrives and is recorded byte for byte.
        reply_error(ftp.sendcmd, "rcmd  chkobj obj(KDXSUPPT/X) objtype(*FILE) ")
        reply_error(ftp.sendcmd, "bogus \xe9\x01\ttext")
        ftp.quit()
        second = self.host.connect()
        second.quit()
        records = self.host.records()
        self.assertEqual(
            [r["command"] for r in records],
            [
                "USER QSECOFR",
                "PASS " + PASSWORD,
                "rcmd  chkobj obj(KDXSUPPT/X) objtype(*FILE) ",
                "bogus \xe9\x01\ttext",
                "QUIT",
                "USER QSECOFR",
                "PASS " + PASSWORD,
                "QUIT",
            ],
        )
        self.assertEqual([r["session"] for r in records], [1] * 5 + [2] * 3)

    def test_a_command_is_recorded_before_it_is_answered(self):
        ftp = self.host.connect()
        ftp.sendcmd("NOOP")
        self.assertEqual(self.host.commands()[-1], "NOOP")
        ftp.close()


if __name__ == "__main__":
    unittest.main()
