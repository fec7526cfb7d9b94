"""The host's FTP over TLS: explicit and implicit, strict about what needs TLS, its IBM i
behaviour unchanged, and the ways it can be told to get TLS wrong."""

import ftplib
import io
import os
import socket
import ssl
import unittest

from emulator_process import PASSWORD, WAIT_LIMIT_S, EmulatorProcess, reply_error
from tls_clients import TestCertificates, client_context, secured_client

FAULT_LOOK_S = 1.0  # how long a client waits for a host that stalls the handshake


def setUpModule():
    global certificates
    certificates = TestCertificates()


def tearDownModule():
    certificates.cleanup()


class TlsHost(unittest.TestCase):
    def start(self, mode, *options):
        self.host = EmulatorProcess("--tls", mode, "--cert", certificates.pem("host"),
                                    "--key", certificates.key("host"), *options)
        self.addCleanup(self.host.stop)

    def client(self, mode, highest=None, timeout=WAIT_LIMIT_S):
        ftp = secured_client(mode, self.host.port, client_context(certificates, highest), timeout)
        self.addCleanup(ftp.close)
        return ftp

    def upload_both_ways(self, ftp, size):
        data = os.urandom(size)
        for passive, name in ((False, "ACTIVE"), (True, "PASSIVE")):
            ftp.set_pasv(passive)
            self.assertEqual(ftp.storbinary("STOR KDXSUPPT/" + name, io.BytesIO(data)),
                             "250 File transfer completed successfully.")
            self.assertEqual(self.host.stored("KDXSUPPT", name), data)

    def test_explicit_needs_auth_before_log_on_and_prot_before_data(self):
        self.start("explicit")
        plain = self.host.connect(user=None)
        self.addCleanup(plain.close)
        self.assertEqual(reply_error(plain.sendcmd, "USER QSECOFR"),
                         "550 SSL/TLS required on the control channel.")
        ftp = self.client("explicit")
        ftp.login("QSECOFR", PASSWORD)
        for command in ("PASV", "PORT 127,0,0,1,200,1"):
            self.assertEqual(reply_error(ftp.sendcmd, command),
                             "550 SSL/TLS required on the data channel.")
        ftp.prot_p()
        self.upload_both_ways(ftp, 300000)
        self.assertEqual(ftp.sendcmd("SITE NAMEFMT 1"), '250  Now using naming format "1".')
        self.assertEqual(ftp.sendcmd("RCMD CHKOBJ OBJ(KDXSUPPT/ACTIVE) OBJTYPE(*FILE)"),
                         "250 Command CHKOBJ successful.")
        ftp.quit()
        self.assertEqual(
            [(r["session"], r["command"]) for r in self.host.records()][:7],
            [(1, "USER QSECOFR"), (2, "AUTH TLS"), (2, "USER QSECOFR"), (2, "PASS " + PASSWORD),
             (2, "PASV"), (2, "PORT 127,0,0,1,200,1"), (2, "PBSZ 0")])
        self.assertIn("PROT P", self.host.commands())

    def test_implicit_greets_over_tls_and_offers_the_pinned_version(self):
        self.start("implicit", "--tls-max-version", "1.2")
        ftp = self.client("implicit")
        self.assertEqual(ftp.getwelcome(), "220-QTCP at EMU400.\n"
                         "220 Connection will close if idle more than 5 minutes.")
        self.assertEqual(ftp.sock.version(), "TLSv1.2")
        ftp.login("QSECOFR", PASSWORD)
        ftp.prot_p()
        self.upload_both_ways(ftp, 1)
        ftp.quit()
        self.assertEqual(self.host.commands()[:4],
                         ["USER QSECOFR", "PASS " + PASSWORD, "PBSZ 0", "PROT P"])

    def test_each_fault_ends_before_a_log_on_could_be_sent(self):
        refused = "534 Request denied for policy reasons."
        cases = [
            ("explicit", "refuse-auth", ftplib.error_perm, refused),
            ("explicit", "plain-text", ssl.SSLError, "WRONG_VERSION_NUMBER"),
            ("explicit", "garbage-handshake", ssl.SSLError, "WRONG_VERSION_NUMBER"),
            ("explicit", "stall-handshake", socket.timeout, "timed out"),
            ("implicit", "plain-text", ssl.SSLError, "WRONG_VERSION_NUMBER"),
            ("implicit", "garbage-handshake", ssl.SSLError, "WRONG_VERSION_NUMBER"),
            ("implicit", "stall-handshake", socket.timeout, "timed out"),
        ]
        for mode, fault, failure, text in cases:
            with self.subTest(mode=mode, fault=fault):
                self.start(mode, "--tls-fault", fault)
                with self.assertRaisesRegex(failure, text):
                    self.client(mode, timeout=FAULT_LOOK_S)
                self.assertFalse([c for c in self.host.commands()
                                  if c.upper().startswith(("USER", "PASS"))])


if __name__ == "__main__":
    unittest.main()
