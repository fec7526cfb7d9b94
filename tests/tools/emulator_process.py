"""Starts the host emulator on a free port in a temporary folder for one test case."""

import ftplib
import json
import pathlib
import select
import subprocess
import sys
import tempfile
import time

TOOLS = pathlib.Path(__file__).resolve().parents[2] / "tools"
PASSWORD = "Secret1"
STARTUP_LIMIT_S = 20.0
WAIT_LIMIT_S = 10.0


class EmulatorProcess:
    def __init__(self, *options, password=PASSWORD):
        self.folder = tempfile.TemporaryDirectory(prefix="host-emulator-test-")
        base = pathlib.Path(self.folder.name)
        self.root = base / "libraries"
        self.record_path = base / "record.jsonl"
        self.process = subprocess.Popen(
            [sys.executable, str(TOOLS / "host_emulator.py"), "--port", "0",
             "--password", password,
             "--library-root", str(self.root), "--record", str(self.record_path), *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # The emulator prints its port once it accepts connections.
        ready, _, _ = select.select([self.process.stdout], [], [], STARTUP_LIMIT_S)
        line = self.process.stdout.readline() if ready else b""
        if not line.strip().isdigit():
            self.process.kill()
            self.process.wait()
            complaint = self.process.stderr.read().decode(errors="replace")
            self.stop()
            raise RuntimeError("emulator did not report its port: " + complaint)
        self.port = int(line)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(WAIT_LIMIT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()
        self.folder.cleanup()

    def connect(self, user="QSECOFR", password=PASSWORD, address="127.0.0.1"):
        ftp = ftplib.FTP(timeout=WAIT_LIMIT_S, encoding="latin-1")
        ftp.connect(address, self.port)
        if user is not None:
            ftp.login(user, password)
        return ftp

    def records(self):
        if not self.record_path.exists():
            return []
        with open(self.record_path, encoding="ascii") as record:
            return [json.loads(line) for line in record]

    def commands(self):
        return [entry["command"] for entry in self.records()]

    def wait_for_command(self, count):
        """Waits (bounded) until the host has recorded at least count commands."""
        deadline = time.monotonic() + WAIT_LIMIT_S
        while len(self.commands()) < count:
            if time.monotonic() > deadline:
                raise AssertionError("host recorded only %r" % self.commands())
            time.sleep(0.02)

    def stored(self, library, name):
        return (self.root / library / name).read_bytes()

    def exists(self, library, name):
        return (self.root / library / name).exists()


def reply_error(call, *args):
    """The text of the error reply that call raises (a failing test if it succeeds)."""
    try:
        call(*args)
    except ftplib.Error as error:
        return str(error)
    raise AssertionError("no error reply for %r" % (args,))
