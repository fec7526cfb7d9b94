#!/usr/bin/python3
"""Uploads and whole apply runs over the benchmark's own network link (net_link).

For each link: the link is made (two namespaces, TUN devices, the forwarder); ping's round
trip and a plain TCP copy show what it gives; the host emulator and vsftpd serve in the far
namespace; then, round by round, TFtpClient and curl -T upload the same file to both
servers in both modes, and the installer's apply procedure runs against the emulator with
each data connection choice (active, passive, auto). Figures are medians of the rounds. Run as root from a build made with
-DAPPLY_UPDATE_BENCH=ON:

    bench/link/link_bench.py --build build-bench [--size-mib 256]
        [--links 50:100:0:3,50:1000:0.001:9] [--apply-update-mib 1,64] [--work /dev/shm]

--size-mib 0 leaves the uploads out (apply runs only).

A link is RTT_MS:RATE_MBIT:LOSS:ROUNDS. The link is torn down at the end, also after a
failure.
"""

import argparse
import json
import os
import pathlib
import pwd
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SOURCE = pathlib.Path(__file__).resolve().parents[2]
LINK = "bench"
SUBNET = 201
NEAR, FAR = "10.%d.0.1" % SUBNET, "10.%d.0.2" % SUBNET
FAR6 = "fd00:%d::2" % SUBNET
PASSWORD = "Secret1"
VSFTPD_PORT = 2121  # inside the far namespace, where nothing else listens
MB = 1e6


class Bench:
    def __init__(self, args):
        self.build = pathlib.Path(args.build).resolve() / "bench" / "link"
        self.net_link = str(self.build / "net_link")
        self.args = args
        self.servers = []

    # --- processes in the link's namespaces

    def inside(self, side, argv):
        return [self.net_link, "exec", LINK, side, "--"] + [str(a) for a in argv]

    def run(self, side, argv):
        """Runs argv inside a namespace; returns (stdout, CPU seconds of the process)."""
        # Waited for with wait4, for the CPU time of the process alone.
        process = subprocess.Popen(self.inside(side, argv), stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        out = process.stdout.read()
        err = process.stderr.read()
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        if process.returncode != 0:
            raise RuntimeError("%s failed: %s" % (" ".join(map(str, argv)), err.decode()))
        return out.decode(), usage.ru_utime + usage.ru_stime

    def forwarder_cpu(self):
        text = subprocess.run([self.net_link, "stats", LINK], check=True,
                              capture_output=True, text=True).stdout
        return float(re.search(r"cpu_seconds (\S+)", text).group(1)), text

    # --- the link and what it gives

    def link_up(self, rtt, rate, loss):
        subprocess.run([self.net_link, "up", LINK, "--rtt-ms", str(rtt), "--rate-mbit", str(rate),
                        "--loss", str(loss), "--subnet", str(SUBNET)], check=True)

    def link_down(self):
        subprocess.run([self.net_link, "down", LINK], check=False)

    def ping(self, address):
        out, _ = self.run("near", ["ping", "-q", "-c", "20", "-i", "0.05", address])
        return [float(x) for x in re.search(r"= ([\d.]+)/([\d.]+)/([\d.]+)", out).groups()]

    def tcp_copy(self, address, size):
        receiver = subprocess.Popen(self.inside("far", [self.build / "tcp_copy", "receive",
                                                        address]),
                                    stdout=subprocess.PIPE, text=True)
        port = receiver.stdout.readline().strip()
        before, _ = self.forwarder_cpu()
        out, _ = self.run("near", [self.build / "tcp_copy", "send", address, port, size])
        after, _ = self.forwarder_cpu()
        receiver.communicate()
        _, seconds, mbit = out.split()
        return float(mbit), (after - before) / float(seconds), float(seconds)

    # --- servers in the far namespace

    def start_emulator(self, work):
        root = work / "libraries"
        self.record = work / "record.jsonl"
        port_file = work / "emulator.port"
        process = subprocess.Popen(self.inside("far", [
            "/usr/bin/python3", SOURCE / "tools" / "host_emulator.py", "--listen", FAR,
            "--listen", FAR6, "--password", PASSWORD, "--library-root", root,
            "--record", self.record, "--port-file", port_file]),
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.servers.append(process)
        for _ in range(200):
            if port_file.exists():
                break
            time.sleep(0.05)
        self.emulator_root = root
        return int(port_file.read_text())

    def start_vsftpd(self, work):
        root = work / "vsftpd" / "root"
        (root / "in").mkdir(parents=True)
        (work / "vsftpd" / "empty").mkdir()
        os.chmod(root, 0o755)
        ftp = pwd.getpwnam("ftp")
        os.chown(root / "in", ftp.pw_uid, ftp.pw_gid)
        config = work / "vsftpd" / "vsftpd.conf"
        config.write_text(
            "listen=YES\nlisten_ipv6=NO\nlisten_address=%s\nlisten_port=%d\nbackground=NO\n"
            "anonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\nanon_upload_enable=YES\n"
            "anon_root=%s\nanon_umask=022\nanon_other_write_enable=YES\n"
            "connect_from_port_20=NO\nport_enable=YES\npasv_enable=YES\nseccomp_sandbox=NO\n"
            "secure_chroot_dir=%s\nxferlog_enable=NO\ndirmessage_enable=NO\n"
            "isolate_network=NO\nisolate=NO\none_process_model=YES\n"
            % (FAR, VSFTPD_PORT, root, work / "vsftpd" / "empty"))
        process = subprocess.Popen(self.inside("far", ["/usr/sbin/vsftpd", config]),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.servers.append(process)
        self.vsftpd_in = root / "in"
        time.sleep(0.5)
        return VSFTPD_PORT

    def stop_servers(self):
        for process in self.servers:
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.servers = []


def median(values):
    return statistics.median(values) if values else float("nan")


def upload_plans(bench, file, emulator_port, vsftpd_port):
    """(name, argv, curl timings, where the upload lands) for each kind of upload."""
    plans = []
    servers = [
        ("emulator", emulator_port, "QSECOFR", PASSWORD, "KDXSUPPT/", bench.emulator_root / "KDXSUPPT"),
        ("vsftpd", vsftpd_port, "anonymous", "bench@", "in/", bench.vsftpd_in),
    ]
    for server, port, user, password, folder, landing in servers:
        for mode in ("active", "passive"):
            ours = "T" + mode[0].upper()
            plans.append(("TFtpClient %s, %s" % (mode, server),
                          [bench.build / "link_ftp_client", FAR, port, user, password, mode, file,
                           folder + ours], False, landing / ours))
            theirs = "C" + mode[0].upper()
            flags = (["-P", NEAR, "--disable-eprt"] if mode == "active" else ["--disable-epsv"])
            url = "ftp://%s:%s@%s:%d/%s%s" % (user, password.replace("@", "%40"), FAR, port,
                                              folder, theirs)
            plans.append(("curl %s, %s" % (mode, server),
                          ["/usr/bin/curl", "-sS", *flags, "-T", file, url, "-w",
                           "%{time_pretransfer} %{time_total}\n"], True, landing / theirs))
    return plans


def write_file(path, size):
    block = os.urandom(1 << 20)
    with open(path, "wb") as out:
        for _ in range(size >> 20):
            out.write(block)
        out.write(block[: size & ((1 << 20) - 1)])


def round_trips(records, session, mode):
    """Round trips the script needs: the connection and greeting (2), one per command, and
    per upload the data's way to the host with the final reply's way back (1) and, where it
    does not share STOR's round trip, the data connection's set-up (1). Active (and auto
    where the host connects back): the host connects as it answers STOR, and the client has
    the connection once the host's last handshake packet arrives, a round trip later.
    Passive: the client sends STOR while its connection's handshake runs, so the two share
    one round trip."""
    commands = [r["command"] for r in records if r["session"] == session]
    uploads = sum(1 for c in commands if c.upper().startswith("STOR "))
    per_upload = 1 if mode == "passive" else 2
    return 2 + len(commands) + per_upload * uploads, len(commands), uploads


def measure_link(bench, args, rtt, rate, loss, rounds, work):
    print("\n## link: round trip %g ms, %g Mbit/s, loss %g" % (rtt, rate, loss), flush=True)
    bench.link_up(rtt, rate, loss)
    ping4, ping6 = bench.ping(FAR), bench.ping(FAR6)
    print("ping (min/avg/max ms): IPv4 %.2f/%.2f/%.2f, IPv6 %.2f/%.2f/%.2f"
          % (*ping4, *ping6))
    copies = [bench.tcp_copy(address, max(args.size_mib, 64) << 20) for address in (FAR, FAR6)]
    print("plain TCP copy of %d MiB: IPv4 %.1f Mbit/s, IPv6 %.1f Mbit/s; forwarder CPU %.0f %% / "
          "%.0f %% of one core" % (max(args.size_mib, 64), copies[0][0], copies[1][0],
                                   100 * copies[0][1], 100 * copies[1][1]), flush=True)

    file = work / "upload.bin"
    write_file(file, args.size_mib << 20)  # 0: apply runs only
    emulator_port = bench.start_emulator(work)
    vsftpd_port = bench.start_vsftpd(work) if args.size_mib else 0
    plans = upload_plans(bench, file, emulator_port, vsftpd_port) if args.size_mib else []
    results = {name: [] for name, _, _, _ in plans}
    for round_number in range(rounds if plans else 0):
        for step in range(len(plans)):
            name, argv, curl, landing = plans[(step + round_number) % len(plans)]
            cpu_before, _ = bench.forwarder_cpu()
            out, cpu = bench.run("near", argv)
            forwarder, _ = bench.forwarder_cpu()
            first, second = (float(x) for x in out.split()[:2])
            data = second - first if curl else first
            if landing.stat().st_size != args.size_mib << 20:
                raise RuntimeError("%s: the upload arrived with %d bytes" % (name,
                                                                            landing.stat().st_size))
            results[name].append((data, cpu, forwarder - cpu_before))
            print("  round %d %-28s data %.3f s" % (round_number + 1, name, data), flush=True)

    bytes_ = args.size_mib << 20
    if plans:
        print_uploads(plans, results, bytes_, rounds)
    apply_runs(bench, args, rtt, rate, rounds, work, emulator_port)
    bench.stop_servers()


def print_uploads(plans, results, bytes_, rounds):
    print("\n| %d MiB upload, %d rounds | data Mbit/s | vs curl | client CPU s | forwarder CPU %% |"
          % (bytes_ >> 20, rounds))
    print("|---|---:|---:|---:|---:|")
    for name, _, curl, _ in plans:
        runs = results[name]
        rate_ = median([bytes_ * 8 / r[0] / 1e6 for r in runs])
        other = name.replace("TFtpClient", "curl") if not curl else name
        other_rate = median([bytes_ * 8 / r[0] / 1e6 for r in results[other]])
        ratio = "%.3f" % (rate_ / other_rate) if not curl else "-"
        print("| %s | %.1f | %s | %.2f | %.0f |" % (
            name, rate_, ratio, median([r[1] for r in runs]),
            100 * median([r[2] / r[0] for r in runs])))


def apply_runs(bench, args, rtt, rate, rounds, work, emulator_port):
    """Whole apply runs against the emulator, each data connection choice, each update size."""
    for update_mib in args.apply_update_mib:
        package = work / ("package%d" % update_mib)
        package.mkdir()
        write_file(package / "W_CHKLCKSF.SVF", 70000)
        write_file(package / "BENCHUPD.SVF", update_mib << 20)
        (package / "update.Ini").write_bytes(
            b"[Defaults]\r\nUpdate=BENCHUPD\r\nDescription=Bench\r\nFilename=BENCHUPD.SVF\r\n"
            b"Lock1=APPLIB/ORDERS\r\nType1=*FILE\r\n")
        sizes = (70000, update_mib << 20)
        total_bytes = sum(sizes)
        runs = {"active": [], "passive": [], "auto": []}
        # What TCP itself needs to carry each file over a fresh connection of this link,
        # set-up and close included: a plain copy of the same bytes.
        copy_times = {size: [] for size in sizes}
        for round_number in range(rounds + 1):  # the first makes the save files
            for mode in runs:
                installed = bench.emulator_root / "QGPL" / "BENCHUPD.UPD"
                if installed.exists():
                    installed.unlink()
                out, _ = bench.run("near", [bench.build / "link_apply_run", FAR,
                                                     emulator_port, PASSWORD, mode, package])
                records = [json.loads(line) for line in bench.record.read_text().splitlines()]
                trips, commands, uploads = round_trips(records, records[-1]["session"], mode)
                if round_number > 0:
                    runs[mode].append((float(out.split()[0]), trips, commands, uploads))
            if round_number > 0:
                for size in sizes:
                    copy_times[size].append(bench.tcp_copy(FAR, size)[2])
        floor_transfer = total_bytes * 8 / (rate * 1e6)
        # The plain copies take the data connection's two round trips themselves.
        tcp_carry = sum(median(copy_times[size]) for size in sizes)
        print("\n| apply run, %d MiB update, %d rounds | wall s | commands | uploads | "
              "round trips | floor s | wall / floor | with TCP's own carry s | wall / that |"
              % (update_mib, rounds))
        print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
        for mode, mode_runs in runs.items():
            wall = median([r[0] for r in mode_runs])
            _, trips, commands, uploads = mode_runs[-1]
            floor = trips * rtt / 1000 + floor_transfer
            # A plain copy's own handshake stands for the data connection's set-up, which in
            # passive mode also carries STOR's round trip.
            carry_trips = 2 + commands - (uploads if mode == "passive" else 0)
            carried = carry_trips * rtt / 1000 + tcp_carry
            print("| %s | %.3f | %d | %d | %d | %d x %.3f + %.3f = %.3f | %.3f | "
                  "%d x %.3f + %.3f = %.3f | %.3f |" % (
                      mode, wall, commands, uploads, trips, trips, rtt / 1000, floor_transfer,
                      floor, wall / floor, carry_trips, rtt / 1000, tcp_carry, carried,
                      wall / carried))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--links", default="50:100:0:3,50:1000:0.001:9")
    parser.add_argument("--apply-update-mib", default="1,64")
    parser.add_argument("--work", default="/dev/shm")
    args = parser.parse_args()
    args.apply_update_mib = [int(x) for x in args.apply_update_mib.split(",")]
    if os.geteuid() != 0:
        sys.exit("link_bench: needs root (namespaces, TUN devices, vsftpd)")
    bench = Bench(args)
    print("machine load %s" % open("/proc/loadavg").read().split(" ", 3)[:3])
    try:
        for link in args.links.split(","):
            rtt, rate, loss, rounds = (float(x) for x in link.split(":"))
            work = pathlib.Path(tempfile.mkdtemp(prefix="link-bench-", dir=args.work))
            os.chmod(work, 0o755)
            try:
                measure_link(bench, args, rtt, rate, loss, int(rounds), work)
            finally:
                bench.stop_servers()
                bench.link_down()
                shutil.rmtree(work, ignore_errors=True)
    finally:
        bench.link_down()


if __name__ == "__main__":
    main()
