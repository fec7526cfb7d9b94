"""The CL commands that the installer runs through RCMD, acting on the library store.

Each command either returns (the server answers 250) or raises ClError with the
messages the host would put in its 550 reply.
"""

import os

from .cl_parser import parse_cl
from .library_store import ClError, check_name, to_upper

LOCK_CHECK_PROGRAM = "W_CHKLCK"
LOCK_CHECK_FIELD = 10


class LockedObject:
    """An object the lock-check program reports as locked: LIB/OBJ, optionally ' *TYPE'."""

    def __init__(self, spec):
        qualified, _, objtype = spec.strip().partition(" ")
        lib, sep, obj = qualified.partition("/")
        if not sep:
            lib, obj = "", qualified
        self.lib = to_upper(lib.strip())
        self.obj = to_upper(obj.strip())
        self.objtype = to_upper(objtype.strip())

    def matches(self, obj, lib, objtype):
        return (
            self.obj == obj
            and self.lib == lib
            and (not self.objtype or self.objtype == objtype)
        )


class CommandRunner:
    def __init__(self, store, locked=(), fail_install=None):
        self.store = store
        self.locked = [LockedObject(spec) for spec in locked]
        self.fail_install = fail_install
        self._commands = {
            "CHGJOB": self._chgjob,
            "CHKOBJ": self._chkobj,
            "CRTSAVF": self._crtsavf,
            "CLRSAVF": self._clrsavf,
            "RSTOBJ": self._rstobj,
            "CALL": self._call,
            "ZLCLUPD": self._zlclupd,
        }

    def run(self, text, current_lib):
        """Runs one CL command; current_lib stands in for *LIBL on unqualified names."""
        command = parse_cl(text)
        action = self._commands.get(command.name)
        if action is None:
            raise ClError(
                "CPD0030: Command %s in library *LIBL not found." % command.name,
                "CPF0006: Errors occurred in command.",
            )
        action(command, current_lib)

    # The server job accepts any job attribute change; only its log is affected.
    def _chgjob(self, command, current_lib):
        pass

    def _chkobj(self, command, current_lib):
        command.check_keywords({"OBJ", "OBJTYPE", "MBR", "AUT"})
        lib, obj = command.qualified("OBJ", current_lib)
        objtype = command.required_word("OBJTYPE")
        if objtype == "*LIB":
            if not self.store.library_exists(obj):
                raise ClError("CPF9801: Object %s in library %s not found." % (obj, lib))
            return
        self.store.require_library(lib)
        found = {
            "*FILE": self.store.save_file_exists,
            "*PGM": self.store.program_exists,
        }.get(objtype)
        if found is None or not found(lib, obj):
            raise ClError("CPF9801: Object %s in library %s not found." % (obj, lib))

    def _crtsavf(self, command, current_lib):
        command.check_keywords({"FILE", "TEXT", "AUT", "MAXRCDS", "ASP"})
        lib, name = command.qualified("FILE", current_lib)
        self.store.require_library(lib)
        if self.store.save_file_exists(lib, name):
            raise ClError("CPF5813: File %s in library %s already exists." % (name, lib))
        open(self.store.save_file_path(lib, name), "wb").close()

    def _clrsavf(self, command, current_lib):
        command.check_keywords({"FILE"})
        lib, name = command.qualified("FILE", current_lib)
        self._require_save_file(lib, name)
        open(self.store.save_file_path(lib, name), "wb").close()

    def _rstobj(self, command, current_lib):
        command.check_keywords(
            {"OBJ", "SAVLIB", "DEV", "SAVF", "RSTLIB", "OBJTYPE", "MBROPT", "ALWOBJDIF"}
        )
        objects = [check_name(o) for o in command.word("OBJ", "").split()]
        if not objects:
            command.required("OBJ")
        savlib = check_name(command.required_word("SAVLIB"), "Library")
        device = command.required_word("DEV")
        if device != "*SAVF":
            raise ClError("CPF9814: Device %s not found." % device)
        lib, savf = command.qualified("SAVF", current_lib)
        self._require_save_file(lib, savf)
        if self.store.save_file_size(lib, savf) == 0:
            raise ClError("CPF3780: Specified file for library %s not found." % savlib)
        rstlib = command.word("RSTLIB", "*SAVLIB")
        rstlib = savlib if rstlib == "*SAVLIB" else check_name(rstlib, "Library")
        self.store.require_library(rstlib)
        for obj in objects:
            with open(self.store.program_path(rstlib, obj), "w", encoding="ascii") as out:
                out.write("restored from %s/%s, saved from %s\n" % (lib, savf, savlib))

    def _call(self, command, current_lib):
        command.check_keywords({"PGM", "PARM"})
        lib, program = command.qualified("PGM", current_lib)
        if not self.store.program_exists(lib, program):
            raise ClError(
                "CPD0170: Program %s in library %s not found." % (program, lib),
                "CPF0001: Error found on CALL command.",
            )
        if program == LOCK_CHECK_PROGRAM:
            self._check_lock(command.raw("PARM") or "")

    # The lock-check program takes object, library and type as three fixed fields of
    # ten characters each, run together without separators.
    def _check_lock(self, parm):
        width = LOCK_CHECK_FIELD
        if len(parm) != 3 * width:
            raise ClError(
                "MCH0802: Total parameters passed does not match number required.",
                "CPF9999: Function check. MCH0802 unmonitored by %s." % LOCK_CHECK_PROGRAM,
            )
        obj, lib, objtype = (to_upper(parm[i : i + width].strip()) for i in (0, width, 2 * width))
        for locked in self.locked:
            if locked.matches(obj, lib, objtype):
                raise ClError(
                    "CPF9898: Object %s in library %s type %s is locked by another job."
                    % (obj, lib, objtype or "*N")
                )

    def _zlclupd(self, command, current_lib):
        command.check_keywords({"UPDID", "UPDLIB", "PRDLIB", "UPDFMT", "REPLACE"})
        if self.fail_install is not None:
            raise ClError(*self.fail_install.split("\n"))
        updid = check_name(command.required_word("UPDID"))
        updlib = check_name(command.required_word("UPDLIB"), "Library")
        prdlib = check_name(command.required_word("PRDLIB"), "Library")
        updfmt = command.word("UPDFMT", "*SAVF")
        if updfmt != "*SAVF":
            raise ClError("CPF9898: Update format %s not supported." % updfmt)
        self._require_save_file(updlib, updid)
        size = self.store.save_file_size(updlib, updid)
        if size == 0:
            raise ClError("CPF9898: Save file %s in library %s holds no update." % (updid, updlib))
        self.store.create_library(prdlib)
        marker = self.store.update_path(prdlib, updid)
        if os.path.exists(marker) and command.word("REPLACE", "*NO") != "*YES":
            raise ClError(
                "CPF9898: Update %s is already installed in library %s." % (updid, prdlib),
                "CPF9898: Specify REPLACE(*YES) to install it again.",
            )
        with open(marker, "w", encoding="ascii") as out:
            out.write("%s from %s, %d bytes\n" % (updid, updlib, size))

    def _require_save_file(self, lib, name):
        self.store.require_library(lib)
        if not self.store.save_file_exists(lib, name):
            raise ClError("CPF9812: File %s in library %s not found." % (name, lib))
