"""The record of every command line the host received, for tests to assert.

One JSON object per line, in the order received: {"session": N, "command": "..."}.
The command is the line exactly as received without its CR LF; each byte is kept as
the character of the same code (Latin-1), so any byte survives the JSON round trip.
"""

import json


class CommandRecord:
    def __init__(self, path):
        self._file = open(path, "a", encoding="ascii") if path else None

    def add(self, session, raw_line):
        if self._file is None:
            return
        entry = {"session": session, "command": raw_line.decode("latin-1")}
        self._file.write(json.dumps(entry) + "\n")
        # Tests read the record while the host keeps running.
        self._file.flush()

    def close(self):
        if self._file is not None:
            self._file.close()
            self._file = None
