"""The CL commands the installer runs through RCMD, their replies and their effects."""

import io
import unittest

from emulator_process import EmulatorProcess, reply_error

SL = "KDXSUPPT"
OK = "250 Command %s successful."


def error_lines(text):
    return text.split("\n")


class SaveFileCommands(unittest.TestCase):
    def setUp(self):
        self.host = EmulatorProcess()
        self.ftp = self.host.connect()

    def tearDown(self):
        self.ftp.close()
        self.host.stop()

    def test_chkobj_of_a_missing_save_file_fails_with_a_multi_line_cpf_reply(self):
        text = reply_error(self.ftp.sendcmd, "rcmd chkobj obj(KDXSUPPT/W_CHKLCKSF) objtype(*FILE)")
        self.assertEqual(
            error_lines(text),
            [
                "550-CPF9801: Object W_CHKLCKSF in library KDXSUPPT not found.",
                "550 Errors occurred on command.",
            ],
        )

    def test_crtsavf_then_chkobj_succeeds_and_a_second_crtsavf_fails(self):
        self.assertEqual(self.ftp.sendcmd("rcmd crtsavf file(KDXSUPPT/W_CHKLCKSF)"), OK % "CRTSAVF")
        self.assertEqual(self.host.stored(SL, "W_CHKLCKSF"), b"")
        self.assertEqual(
            self.ftp.sendcmd("rcmd chkobj obj(KDXSUPPT/W_CHKLCKSF) objtype(*FILE)"), OK % "CHKOBJ"
        )
        text = reply_error(self.ftp.sendcmd, "rcmd crtsavf file(KDXSUPPT/W_CHKLCKSF)")
        self.assertEqual(
            error_lines(text)[0], "550-CPF5813: File W_CHKLCKSF in library KDXSUPPT already exists."
        )

    def test_names_and_keywords_are_case_insensitive(self):
        self.ftp.sendcmd("RCMD CRTSAVF FILE(kdxsuppt/upd1)")
        self.ftp.sendcmd("Rcmd ChkObj Obj(KdxSuppt/Upd1) ObjType(*file)")
        self.assertTrue(self.host.exists(SL, "UPD1"))

    def test_clrsavf_empties_an_existing_save_file_and_fails_on_a_missing_one(self):
        self.ftp.sendcmd("TYPE I")
        self.ftp.storbinary("STOR KDXSUPPT/UPD1", io.BytesIO(b"old content"))
        self.assertEqual(self.ftp.sendcmd("rcmd clrsavf file(KDXSUPPT/UPD1)"), OK % "CLRSAVF")
        self.assertEqual(self.host.stored(SL, "UPD1"), b"")
        text = reply_error(self.ftp.sendcmd, "rcmd clrsavf file(KDXSUPPT/NONE)")
        self.assertEqual(error_lines(text)[0], "550-CPF9812: File NONE in library KDXSUPPT not found.")

    def test_commands_on_a_missing_library_fail(self):
        for command in ("chkobj obj(NOLIB/X) objtype(*FILE)", "crtsavf file(NOLIB/X)"):
            text = reply_error(self.ftp.sendcmd, "rcmd " + command)
            self.assertEqual(error_lines(text)[0], "550-CPF9810: Library NOLIB not found.")

    def test_unqualified_names_use_the_current_library(self):
        self.ftp.sendcmd("CWD QGPL")
        self.ftp.sendcmd("rcmd crtsavf file(LOCAL1)")
        self.assertTrue(self.host.exists("QGPL", "LOCAL1"))

    def test_unknown_commands_bad_syntax_and_bad_names_fail_without_effect(self):
        for command in (
            "wrkactjob",
            "chkobj obj(KDXSUPPT/X objtype(*FILE)",
            "chkobj KDXSUPPT/X",
            "crtsavf file(KDXSUPPT/)",
            "crtsavf file(KDXSUPPT/../../X)",
            "crtsavf file(KDXSUPPT/ELEVENCHARS)",
            "crtsavf file(KDXSUPPT/X) bogus(1)",
            "chkobj obj(KDXSUPPT/X)",
        ):
            text = reply_error(self.ftp.sendcmd, "rcmd " + command)
            lines = error_lines(text)
            self.assertTrue(lines[0].startswith("550-CP"), command)
            self.assertEqual(lines[-1], "550 Errors occurred on command.", command)
        self.assertEqual(sorted(p.name for p in (self.host.root / SL).iterdir()), [])

    def test_chgjob_is_accepted(self):
        self.assertEqual(self.ftp.sendcmd("rcmd CHGJOB LOG(4 00 *SECLVL)"), OK % "CHGJOB")


class LockCheck(unittest.TestCase):
    RESTORE = (
        "rcmd rstobj obj(W_CHKLCK) savlib(qmrlib) dev(*savf) savf(KDXSUPPT/W_CHKLCKSF) "
        "rstlib(KDXSUPPT)"
    )

    def setUp(self):
        self.host = EmulatorProcess(
            "--locked", "APPLIB/ORDERS", "--locked", "NOLIBOBJ", "--locked", "APPLIB/DTAQ1 *DTAQ",
            "--save-file", "KDXSUPPT/W_CHKLCKSF",
        )
        self.ftp = self.host.connect()
        self.ftp.sendcmd("TYPE I")

    def tearDown(self):
        self.ftp.close()
        self.host.stop()

    def call(self, obj, lib, objtype):
        parm = obj.ljust(10)[:10] + lib.ljust(10)[:10] + objtype.ljust(10)[:10]
        return self.ftp.sendcmd("rcmd call PGM(KDXSUPPT/W_CHKLCK) PARM(%s)" % parm)

    def restore(self):
        self.ftp.storbinary("STOR KDXSUPPT/W_CHKLCKSF", io.BytesIO(b"saved program"))
        return self.ftp.sendcmd(self.RESTORE)

    def test_restore_needs_a_save_file_with_content(self):
        text = reply_error(self.ftp.sendcmd, self.RESTORE)
        self.assertEqual(error_lines(text)[0], "550-CPF3780: Specified file for library QMRLIB not found.")
        self.assertEqual(self.restore(), OK % "RSTOBJ")
        self.assertTrue(self.host.exists(SL, "W_CHKLCK.PGM"))

    def test_call_before_the_restore_fails(self):
        text = reply_error(self.call, "ORDERS", "APPLIB", "*FILE")
        self.assertEqual(
            error_lines(text)[:2],
            [
                "550-CPD0170: Program W_CHKLCK in library KDXSUPPT not found.",
                "550-CPF0001: Error found on CALL command.",
            ],
        )

    def test_locked_objects_fail_and_free_ones_pass(self):
        self.restore()
        text = reply_error(self.call, "ORDERS", "APPLIB", "*FILE")
        self.assertEqual(
            error_lines(text)[0],
            "550-CPF9898: Object ORDERS in library APPLIB type *FILE is locked by another job.",
        )
        self.assertTrue(reply_error(self.call, "orders", "applib", "*FILE").startswith("550-"))
        self.assertTrue(reply_error(self.call, "NOLIBOBJ", "", "*PGM").startswith("550-"))
        self.assertTrue(reply_error(self.call, "DTAQ1", "APPLIB", "*DTAQ").startswith("550-"))
        self.assertEqual(self.call("CUSTOMERS", "APPLIB", "*FILE"), OK % "CALL")
        self.assertEqual(self.call("ORDERS", "OTHERLIB", "*FILE"), OK % "CALL")
        self.assertEqual(self.call("DTAQ1", "APPLIB", "*FILE"), OK % "CALL")
        self.assertEqual(self.call("ORDERS", "", ""), OK % "CALL")

    def test_a_parameter_that_is_not_three_ten_character_fields_fails(self):
        self.restore()
        text = reply_error(self.ftp.sendcmd, "rcmd call PGM(KDXSUPPT/W_CHKLCK) PARM(ORDERS APPLIB)")
        self.assertTrue(error_lines(text)[0].startswith("550-MCH0802"))


class InstallCommand(unittest.TestCase):
    INSTALL = "rcmd zlclupd updid(UPD1) updlib(KDXSUPPT) PRDLIB(mylib) UPDFMT(*SAVF)"

    def start(self, *options):
        self.host = EmulatorProcess(*options)
        self.ftp = self.host.connect()
        self.ftp.sendcmd("TYPE I")
        self.addCleanup(self.host.stop)
        self.addCleanup(self.ftp.close)

    def upload_update(self):
        self.ftp.sendcmd("rcmd crtsavf file(KDXSUPPT/UPD1)")
        self.ftp.storbinary("STOR KDXSUPPT/UPD1", io.BytesIO(b"update bytes"))

    def test_install_records_the_update_and_replaces_only_with_replace_yes(self):
        self.start()
        self.upload_update()
        self.assertEqual(self.ftp.sendcmd(self.INSTALL), OK % "ZLCLUPD")
        self.assertTrue(self.host.exists("MYLIB", "UPD1.UPD"))
        text = reply_error(self.ftp.sendcmd, self.INSTALL)
        self.assertEqual(
            error_lines(text)[0], "550-CPF9898: Update UPD1 is already installed in library MYLIB."
        )
        self.assertEqual(self.ftp.sendcmd(self.INSTALL + " REPLACE(*YES)"), OK % "ZLCLUPD")

    def test_install_needs_the_update_save_file_with_content(self):
        self.start()
        text = reply_error(self.ftp.sendcmd, self.INSTALL)
        self.assertEqual(error_lines(text)[0], "550-CPF9812: File UPD1 in library KDXSUPPT not found.")
        self.ftp.sendcmd("rcmd crtsavf file(KDXSUPPT/UPD1)")
        self.assertTrue(reply_error(self.ftp.sendcmd, self.INSTALL).startswith("550-CPF9898"))
        self.assertFalse(self.host.exists("MYLIB", "UPD1.UPD"))

    def test_fail_install_answers_with_the_given_messages(self):
        self.start("--fail-install", "CPF9898: Product library in use.\nCPF9999: Function check.")
        self.upload_update()
        text = reply_error(self.ftp.sendcmd, self.INSTALL + " REPLACE(*YES)")
        self.assertEqual(
            error_lines(text),
            [
                "550-CPF9898: Product library in use.",
                "550-CPF9999: Function check.",
                "550 Errors occurred on command.",
            ],
        )
        self.assertFalse(self.host.exists("MYLIB", "UPD1.UPD"))


if __name__ == "__main__":
    unittest.main()
