"""A fleet of emulated IBM i hosts on 127.0.0.1 (or ::1) and the Ansible playbook run against it.

Used by the playbook's test and by the fleet benchmark: it starts one host emulator per
host (all at once, each on a port the system picks), writes an update package, an
inventory of the hosts and a vault holding their password, and runs
deploy/ansible/apply-update.yml with apply-update-cli.
"""

import json
import os
import pathlib
import select
import subprocess
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
EMULATOR = ROOT / "tools" / "host_emulator.py"
PLAYBOOK = ROOT / "deploy" / "ansible" / "apply-update.yml"
ANSIBLE_CONFIG = ROOT / "deploy" / "ansible" / "ansible.cfg"
PASSWORD = "Fleet-Secret-7"
VAULT_PASSWORD = "vault-test-only"
PYTHON = "/usr/bin/python3"  # the interpreter with pyftpdlib, as the emulator needs
STARTUP_LIMIT_S = 30.0
STOP_LIMIT_S = 10.0


class Fleet:
    def __init__(self, folder, count, locked=(), update_bytes=90000, ipv6=()):
        """Starts `count` hosts named host1, host2, ...; those in `locked` report the
        object APPLIB/ORDERS locked; those in `ipv6` listen on ::1 instead of 127.0.0.1."""
        self.folder = pathlib.Path(folder)
        self.names = ["host%d" % n for n in range(1, count + 1)]
        self.processes = {}
        self.ports = {}
        self.roots = {}
        self.records = {}
        self.addresses = {name: "::1" if name in ipv6 else "127.0.0.1" for name in self.names}
        try:
            for name in self.names:
                self._start(name, (["--locked", "APPLIB/ORDERS"] if name in locked else [])
                            + ["--listen", self.addresses[name]])
            for name in self.names:
                self.ports[name] = self._read_port(name)
        except BaseException:
            self.stop()
            raise
        self.package = self._write_package(update_bytes)
        self.vault = self._write_vault()

    def _start(self, name, options):
        base = self.folder / name
        base.mkdir(parents=True)
        self.roots[name] = base / "libraries"
        self.records[name] = base / "record.jsonl"
        self.processes[name] = subprocess.Popen(
            [PYTHON, "-B", str(EMULATOR), "--port", "0", "--password", PASSWORD,
             "--library-root", str(self.roots[name]), "--library", "APPLIB",
             "--record", str(self.records[name]), *options],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def _read_port(self, name):
        process = self.processes[name]
        ready, _, _ = select.select([process.stdout], [], [], STARTUP_LIMIT_S)
        line = process.stdout.readline() if ready else b""
        if not line.strip().isdigit():
            raise RuntimeError("host emulator %s did not report its port" % name)
        return int(line)

    def _write_package(self, update_bytes):
        package = self.folder / "package"
        package.mkdir()
        (package / "update.Ini").write_bytes(
            b"[Defaults]\r\nUpdate=MYUPD\r\nFilename=MYUPD.SVF\r\nTgtlib=QGPL\r\n"
            b"Lock1=APPLIB/ORDERS\r\nType1=*FILE\r\n")
        (package / "W_CHKLCKSF.SVF").write_bytes(bytes(range(256)) * 20)
        (package / "MYUPD.SVF").write_bytes(
            (bytes(range(256)) * (update_bytes // 256 + 1))[:update_bytes])
        return package

    def _write_vault(self):
        """The password in a vault file, as an operator keeps it."""
        self.vault_password_file = self.folder / "vault-password"
        self.vault_password_file.write_text(VAULT_PASSWORD + "\n")
        vault = self.folder / "vault.yml"
        vault.write_text("apply_update_password: %s\n" % PASSWORD)
        subprocess.run(["ansible-vault", "encrypt", "--vault-password-file",
                        str(self.vault_password_file), str(vault)],
                       check=True, capture_output=True, env=self.environment())
        return vault

    def environment(self):
        """Ansible's settings, with its home and temporary files in the fleet's folder."""
        home = self.folder / "home"
        home.mkdir(exist_ok=True)
        return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": str(home),
                "LANG": "C.UTF-8", "ANSIBLE_CONFIG": str(ANSIBLE_CONFIG),
                "ANSIBLE_NOCOLOR": "1", "ANSIBLE_LOCAL_TEMP": str(home / "tmp")}

    def write_inventory(self, order=None):
        inventory = self.folder / "inventory.yml"
        hosts = {name: {"ansible_host": self.addresses[name], "apply_update_port": self.ports[name],
                        "apply_update_target_library": "APPLIB"}
                 for name in (order or self.names)}
        # JSON is YAML; the group keeps the order given.
        inventory.write_text(json.dumps({"ibmi": {"hosts": hosts}}, indent=2))
        return inventory

    def run_playbook(self, cli, *extra, order=None, limit_s=600, watch=None):
        """Runs the playbook over every host; returns the finished process (text output).
        `watch`, when given, is told the playbook's process id as it starts and stopped
        when it ends."""
        command = ["ansible-playbook", "-i", str(self.write_inventory(order)),
                   "-e", "@" + str(self.vault),
                   "--vault-password-file", str(self.vault_password_file),
                   "-e", "apply_update_package=" + str(self.package),
                   "-e", "apply_update_cli=" + str(cli), *extra, str(PLAYBOOK)]
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   text=True, env=self.environment())
        if watch:
            watch.watch(process.pid)
        try:
            out, err = process.communicate(timeout=limit_s)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise
        finally:
            if watch:
                watch.stop()
        return subprocess.CompletedProcess(command, process.returncode, out, err)

    def commands(self, name):
        path = self.records[name]
        if not path.exists():
            return []
        with open(path, encoding="ascii") as record:
            return [json.loads(line)["command"] for line in record]

    def stored(self, library, name, host):
        path = self.roots[host] / library / name
        return path.read_bytes() if path.exists() else None

    def stop(self):
        for process in self.processes.values():
            if process.poll() is None:
                process.terminate()
        deadline = time.monotonic() + STOP_LIMIT_S
        for process in self.processes.values():
            try:
                process.wait(max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
            process.stdout.close()
