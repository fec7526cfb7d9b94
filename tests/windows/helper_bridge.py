"""Starts the Windows tests' helper programs on the Linux side.

Usage: helper_bridge.py

The Windows build's tests run under wine, which starts a Linux program but cannot follow
it. They ask this bridge instead, over a loopback connection per program: the request is one
line of JSON (program, arguments, forward_output, error_file, closed_input); the answer is
"STARTED" or "FAILED <why>", then the program's standard output as "OUT <n>" frames of n
bytes, and "EXIT <code>" once it has ended. "STOP" closes the program's input and ends it
(forced after 5 s); a closed connection ends it at once.

A Windows path among the arguments (C:\\..., Z:/...) becomes the Linux path of the same file,
through the wine prefix's drive links. Prints "PORT <n>" once it listens; ends when its
standard input closes.
"""
import json
import os
import re
import socket
import subprocess
import sys
import threading

DRIVE_PATH = re.compile(r"(?<![A-Za-z])([A-Za-z]):[\\/]([^\s\"',;]*)")


def linux_path(match):
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    drive = os.path.realpath(os.path.join(prefix, "dosdevices", match.group(1).lower() + ":"))
    rest = match.group(2).replace("\\", "/")
    return os.path.join(drive, rest) if rest else drive


def translated(text):
    # A Linux path that the Windows side extended with its own separator.
    if text.startswith("/"):
        return text.replace("\\", "/")
    return DRIVE_PATH.sub(linux_path, text)


running = set()
running_lock = threading.Lock()


def serve(connection):
    lock = threading.Lock()

    def send(data):
        with lock:
            try:
                connection.sendall(data)
            except OSError:
                pass

    reader = connection.makefile("rb")
    try:
        request = json.loads(reader.readline())
        argv = [translated(request["program"])] + [translated(a) for a in request["arguments"]]
        error_file = translated(request.get("error_file") or "")
        stderr = open(error_file, "wb") if error_file else None
        program = subprocess.Popen(
            argv,
            stdin=subprocess.DEVNULL if request.get("closed_input") else subprocess.PIPE,
            stdout=None if request.get("forward_output") else subprocess.PIPE,
            stderr=stderr,
            close_fds=True,
        )
    except (OSError, ValueError, KeyError) as error:
        send(("FAILED %s\n" % error).encode())
        connection.close()
        return
    with running_lock:
        running.add(program)
    send(b"STARTED\n")

    def follow():
        if program.stdout is not None:
            for block in iter(lambda: program.stdout.read1(65536), b""):
                send(b"OUT %d\n" % len(block) + block)
        code = program.wait()
        send(b"EXIT %d\n" % (code if code >= 0 else -1))

    follower = threading.Thread(target=follow, daemon=True)
    follower.start()

    def close_input():
        if program.stdin is not None and not program.stdin.closed:
            try:
                program.stdin.close()
            except OSError:
                pass

    for line in reader:
        if line.strip() == b"STOP":
            close_input()
            program.terminate()
            try:
                program.wait(5)
            except subprocess.TimeoutExpired:
                program.kill()
    close_input()
    if program.poll() is None:
        program.kill()
    program.wait()
    with running_lock:
        running.discard(program)
    follower.join(5)
    if stderr is not None:
        stderr.close()
    connection.close()


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print("PORT", listener.getsockname()[1], flush=True)
    # Nobody reads on after the port: the output of the programs that forward theirs goes
    # where this bridge's complaints go.
    os.dup2(2, 1)

    def watch_parent():
        sys.stdin.read()
        with running_lock:
            for program in running:
                program.kill()
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection,), daemon=True).start()


if __name__ == "__main__":
    main()
