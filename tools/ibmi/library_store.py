"""Libraries and their objects, kept as folders and files under one root folder.

A library is a folder named after it (upper case). In a library, a save file is a
file without extension, a restored program is NAME.PGM and an installed update is
recorded as NAME.UPD. Object names follow the host's rules (at most ten characters,
a letter or $ # @ first, then letters, digits, $ # @ and _), which also means no name
can climb out of the root.
"""

import os
import re

_NAME = re.compile(r"[A-Z$#@][A-Z0-9$#@_]{0,9}\Z")


class ClError(Exception):
    """A CL command or FTP subcommand ended in error; carries the host's messages."""

    def __init__(self, *messages):
        super().__init__(messages[0] if messages else "")
        self.messages = list(messages)


def to_upper(text):
    """Upper-cases only a to z, as the host folds unquoted names."""
    return text.translate(_UPPER)


_UPPER = {c: c - 32 for c in range(ord("a"), ord("z") + 1)}


def check_name(name, what="Object"):
    """Returns the name folded to upper case, or raises the host's message."""
    folded = to_upper(name.strip())
    if not _NAME.match(folded):
        raise ClError(
            "CPD0078: Value '%s' for %s name not valid." % (name.strip(), what.lower()),
            "CPF0006: Errors occurred in command.",
        )
    return folded


class LibraryStore:
    def __init__(self, root):
        self.root = os.path.abspath(root)
        os.makedirs(self.root, exist_ok=True)

    def library_path(self, lib):
        return os.path.join(self.root, lib)

    def library_exists(self, lib):
        return os.path.isdir(self.library_path(lib))

    def create_library(self, lib):
        os.makedirs(self.library_path(lib), exist_ok=True)

    def require_library(self, lib):
        if not self.library_exists(lib):
            raise ClError("CPF9810: Library %s not found." % lib)

    def save_file_path(self, lib, name):
        return os.path.join(self.root, lib, name)

    def save_file_exists(self, lib, name):
        return os.path.isfile(self.save_file_path(lib, name))

    def save_file_size(self, lib, name):
        return os.path.getsize(self.save_file_path(lib, name))

    def program_path(self, lib, name):
        return os.path.join(self.root, lib, name + ".PGM")

    def program_exists(self, lib, name):
        return os.path.isfile(self.program_path(lib, name))

    def update_path(self, lib, name):
        return os.path.join(self.root, lib, name + ".UPD")
