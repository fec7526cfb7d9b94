"""The installer's whole command script, as it sends it, against the host: a first run
that creates both save files, a run with a locked object, and a repeated install."""

import unittest

from emulator_process import EmulatorProcess

SL = "KDXSUPPT"
U = "KDX0042"
LOCK_CHECK = b"lock check program save file" * 40
UPDATE = bytes(range(256)) * 200


def upload(ftp, name, data):
    # As the installer does: no TYPE before each STOR (ftplib's storbinary sends one).
    with ftp.transfercmd("STOR " + name) as connection:
        connection.sendall(data)
    ftp.voidresp()


def pad(text):
    return text[:10].ljust(10)


class ApplyScript(unittest.TestCase):
    def start(self, *options):
        self.host = EmulatorProcess("--library", "KDXPROD", *options)
        self.addCleanup(self.host.stop)

    def apply(self, locks, replace=False):
        """Runs the script; returns (failed step, reply) or None when it completed."""
        ftp = self.host.connect()
        try:
            ftp.set_pasv(False)
            ftp.sendcmd("site namefmt 0")
            ftp.sendcmd("TYPE I")
            ftp.sendcmd("CWD " + SL)
            ftp.sendcmd("rcmd CHGJOB LOG(4 00 *SECLVL)")
            try:
                ftp.sendcmd("rcmd chkobj obj(%s/W_CHKLCKSF) objtype(*FILE)" % SL)
            except Exception:
                ftp.sendcmd("rcmd crtsavf file(%s/W_CHKLCKSF)" % SL)
            ftp.sendcmd("rcmd clrsavf file(%s/W_CHKLCKSF)" % SL)
            upload(ftp, SL + "/W_CHKLCKSF", LOCK_CHECK)
            ftp.sendcmd(
                "rcmd rstobj obj(W_CHKLCK) savlib(qmrlib) dev(*savf) savf(%s/W_CHKLCKSF) "
                "rstlib(%s)" % (SL, SL)
            )
            for lock, objtype in locks:
                lib, _, obj = lock.rpartition("/")
                parm = pad(obj) + pad(lib) + pad(objtype)
                try:
                    ftp.sendcmd("rcmd call PGM(%s/W_CHKLCK) PARM(%s)" % (SL, parm))
                except Exception as error:
                    return ("lock", str(error))
            try:
                ftp.sendcmd("rcmd chkobj obj(%s/%s) objtype(*FILE)" % (SL, U))
            except Exception:
                ftp.sendcmd("rcmd crtsavf file(%s/%s)" % (SL, U))
            ftp.sendcmd("rcmd clrsavf file(%s/%s)" % (SL, U))
            upload(ftp, U, UPDATE)
            install = "zlclupd updid(%s) updlib(%s) PRDLIB(kdxprod) UPDFMT(*SAVF)" % (U, SL)
            if replace:
                install += " REPLACE(*YES)"
            try:
                ftp.sendcmd("rcmd " + install)
            except Exception as error:
                return ("install", str(error))
            return None
        finally:
            ftp.quit()

    def test_first_run_creates_both_save_files_uploads_and_installs(self):
        self.start()
        self.assertIsNone(self.apply([("KDXPROD/ORDERS", "*FILE")]))
        self.assertEqual(self.host.stored(SL, "W_CHKLCKSF"), LOCK_CHECK)
        self.assertEqual(self.host.stored(SL, U), UPDATE)
        self.assertTrue(self.host.exists("KDXPROD", U + ".UPD"))
        commands = [c for c in self.host.commands() if not c.startswith("PORT ")]
        self.assertEqual(
            commands[6:],
            [
                "rcmd chkobj obj(KDXSUPPT/W_CHKLCKSF) objtype(*FILE)",
                "rcmd crtsavf file(KDXSUPPT/W_CHKLCKSF)",
                "rcmd clrsavf file(KDXSUPPT/W_CHKLCKSF)",
                "STOR KDXSUPPT/W_CHKLCKSF",
                "rcmd rstobj obj(W_CHKLCK) savlib(qmrlib) dev(*savf) "
                "savf(KDXSUPPT/W_CHKLCKSF) rstlib(KDXSUPPT)",
                "rcmd call PGM(KDXSUPPT/W_CHKLCK) PARM(ORDERS    KDXPROD   *FILE     )",
                "rcmd chkobj obj(KDXSUPPT/KDX0042) objtype(*FILE)",
                "rcmd crtsavf file(KDXSUPPT/KDX0042)",
                "rcmd clrsavf file(KDXSUPPT/KDX0042)",
                "STOR KDX0042",
                "rcmd zlclupd updid(KDX0042) updlib(KDXSUPPT) PRDLIB(kdxprod) UPDFMT(*SAVF)",
                "QUIT",
            ],
        )

    def test_a_second_run_finds_the_save_files_and_needs_replace_to_install_again(self):
        self.start()
        self.assertIsNone(self.apply([]))
        step, reply = self.apply([])
        self.assertEqual(step, "install")
        self.assertTrue(reply.startswith("550-CPF9898: Update KDX0042 is already installed"))
        self.assertIsNone(self.apply([], replace=True))
        self.assertNotIn("rcmd crtsavf file(KDXSUPPT/KDX0042)", self.host.commands()[30:])

    def test_a_locked_object_stops_the_run_before_the_update(self):
        self.start("--locked", "KDXPROD/CUSTMAST")
        step, reply = self.apply([("KDXPROD/ORDERS", "*FILE"), ("KDXPROD/CUSTMAST", "*FILE")])
        self.assertEqual(step, "lock")
        self.assertTrue(reply.startswith("550-CPF9898: Object CUSTMAST in library KDXPROD"))
        self.assertFalse(self.host.exists(SL, U))

    def test_a_failing_install_reports_the_hosts_message(self):
        self.start("--fail-install", "CPF9898: Product library KDXPROD is in use.")
        step, reply = self.apply([])
        self.assertEqual(
            (step, reply.split("\n")[0]),
            ("install", "550-CPF9898: Product library KDXPROD is in use."),
        )
        self.assertEqual(self.host.stored(SL, U), UPDATE)


if __name__ == "__main__":
    unittest.main()
