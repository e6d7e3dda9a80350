#!/usr/bin/env python3
"""End-to-end checks of the Windows build under Wine.

Runs morlink.exe against the simulated device (the Linux simdevice program on
127.0.0.1) and pakwrap.exe on hand-built images and on a sparse input of more than 2 GiB
(compared with the Linux pakwrap), and prints one PASS or FAIL
line per check. Exits non-zero when a check fails. Wine must be started in the
prefix that WINEPREFIX names (tools/windows-test does all of that).

morlink.exe never runs here without -s127.0.0.1 or a serial port of its own
(COM9 and COM7 on pseudo-terminals, COM8 linked to nothing).
"""

import argparse
import contextlib
import os
import select
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty
import zlib

SOH, ETB = b"\x01", b"\x17"


class Checks:
    def __init__(self):
        self.failed = []
        self.count = 0

    def check(self, name, ok, detail=""):
        self.count += 1
        if ok:
            print(f"PASS {name}")
        else:
            self.failed.append(name)
            print(f"FAIL {name}" + (f": {detail}" if detail else ""))
        sys.stdout.flush()

    def equal(self, name, got, want):
        self.check(name, got == want, f"got {got!r}, want {want!r}")

    def finish(self, what, label):
        """The closing lines of a run of checks; its exit status."""
        target = f" ({label})" if label else ""
        print(f"{self.count - len(self.failed)} of {self.count} {what} passed{target}")
        if self.failed:
            print(f"Failed{target}: " + ", ".join(self.failed))
        return 1 if self.failed else 0


class Env:
    def __init__(self, args):
        self.wine = args.wine
        self.morlink = os.path.abspath(args.morlink)
        self.pakwrap = os.path.abspath(args.pakwrap)
        self.simdevice = os.path.abspath(args.simdevice)
        self.linux_pakwrap = os.path.abspath(args.linux_pakwrap)
        self.work = args.work
        self.prefix = os.environ["WINEPREFIX"]

    def run(self, exe, argv, stdin=b"", extra_env=None, timeout=60, stdin_file=None):
        """Runs a Windows program in the work directory: (status, stdout, stderr, seconds).

        Standard input is a pipe that holds stdin, or with stdin_file that file of the
        work directory itself, as a shell's < gives it.
        """
        env = dict(os.environ, WINEDEBUG="-all", LANG="C.UTF-8")
        env.pop("LANGUAGE", None)
        env.pop("LC_ALL", None)
        env.pop("LC_MESSAGES", None)
        env.update(extra_env or {})
        start = time.monotonic()
        with contextlib.ExitStack() as stack:
            redirect = {"input": stdin}
            if stdin_file is not None:
                redirect = {"stdin": stack.enter_context(open(os.path.join(self.work, stdin_file), "rb"))}
            r = subprocess.run([self.wine, exe] + argv, capture_output=True, cwd=self.work, env=env,
                               timeout=timeout, **redirect)
        return r.returncode, r.stdout, r.stderr, time.monotonic() - start

    def morlink_run(self, argv, **kw):
        assert any(a == "-s127.0.0.1" or a.startswith("-c") for a in argv), argv
        return self.run(self.morlink, argv, **kw)

    def write(self, name, data):
        with open(os.path.join(self.work, name), "wb") as f:
            f.write(data)

    def read(self, name):
        """The file's bytes, or None when it does not exist."""
        try:
            with open(os.path.join(self.work, name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def exists(self, name):
        return os.path.exists(os.path.join(self.work, name))


def text(data):
    """Console text of a Windows program: CR LF line ends as LF."""
    return data.replace(b"\r\n", b"\n").decode("utf-8", "replace")


class Device:
    """The simulated device as a program: start, port, recording."""

    def __init__(self, env, steps, udp=False, name="device.rec"):
        self.record = os.path.join(env.work, name)
        if os.path.exists(self.record):
            os.unlink(self.record)
        argv = [env.simdevice, "-w", "20", "-o", self.record] + (["-u"] if udp else []) + steps
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.port = int(self.proc.stdout.readline())

    def arg(self):
        return f"-p{self.port}"

    def received(self):
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None
        if not os.path.exists(self.record):
            return None
        with open(self.record, "rb") as f:
            return f.read()


def noise(size, seed):
    out = bytearray()
    x = seed * 2654435761 % 2**32 or 1
    for _ in range(size):
        x = (x * 1103515245 + 12345) % 2**31
        out.append((x >> 16) & 0xFF)
    return bytes(out)


def frame(command, soh=SOH, etb=ETB):
    return soh + command + etb


# ---------------------------------------------------------------------------
# morlink.exe over the network


def morlink_network(env, c):
    status, out, err, _ = env.morlink_run(["-s127.0.0.1", "-?"])
    usage = text(out)
    c.equal("usage: status 0", status, 0)
    c.check("usage: first line and network options",
            usage.startswith("morlink (Windows-Version) 0.13\n\n") and "Network Options:\n" in usage, usage[:200])
    c.check("usage: program path shown with '/' as its last separator", "/morlink.exe" in usage, usage[:200])

    # Binary input with line ends, NUL and the end-of-file character of text mode.
    data = (b"line 1\r\nline 2\n\x1a\x00 end\r" + noise(2500, 1))
    env.write("in.bin", data)
    dev = Device(env, [])
    status, _, err, _ = env.morlink_run(["-s127.0.0.1", dev.arg(), "-iin.bin"])
    c.equal("tcp: input file status", status, 0)
    c.equal("tcp: device receives the file unchanged", dev.received(), data)

    dev = Device(env, [])
    status, _, _, _ = env.morlink_run(["-s127.0.0.1", dev.arg()], stdin=data)
    c.equal("tcp: standard input status", status, 0)
    c.equal("tcp: device receives standard input unchanged, in binary", dev.received(), data)

    small = b"datagram\r\n\x1a\x00" + noise(300, 2)
    dev = Device(env, [f"recv:{len(small)}", "close"], udp=True)
    status, _, _, _ = env.morlink_run(["-s127.0.0.1", dev.arg(), "-u"], stdin=small)
    c.equal("udp: status", status, 0)
    c.equal("udp: device receives the datagram", dev.received(), small)

    env.write("a.txt", b"x" * 1234)
    prologue = (frame(b"RCRA--r2") + frame(b"RCRB--r1") + frame(b"TK") + frame(b"TD") +
                frame(b"Ma.txt*1234"))
    dev = Device(env, [])
    status, _, _, _ = env.morlink_run(["-s127.0.0.1", dev.arg(), "-t", "-aa.txt", "-ia.txt", "-rs"])
    c.equal("prologue: status", status, 0)
    c.equal("prologue: remote-console and MemCard frames before the data", dev.received(),
            prologue + b"x" * 1234)

    dev = Device(env, [])
    status, _, _, _ = env.morlink_run(["-s127.0.0.1", dev.arg(), "-l5E5F", "-t"], stdin=b"")
    c.equal("prologue: frame characters from -l5E5F", dev.received(),
            b"".join(frame(x, b"\x5e", b"\x5f") for x in (b"RCRA--r2", b"RCRB--r1", b"TK", b"TD")))


def morlink_receiving(env, c):
    job = b"JOB\r\n"
    # Mode 0: the first answer text ends the session; its bytes pass unchanged,
    # and the bytes before the answer are not shown with it.
    dev = Device(env, [f"recv:{len(job)}", 'send:noise\\x01TD"a\\nb\\r\\nc"junk\\x17', "sleep:3000"])
    status, out, err, secs = env.morlink_run(["-s127.0.0.1", dev.arg(), "-l", "-r9"], stdin=job)
    c.equal("receive: filter mode 0 status", status, 0)
    c.equal("receive: answer text in binary on standard output", out, b'a\nb\r\nc')
    c.check("receive: ends at the answer, before the time-out", secs < 7, f"{secs:.1f} s")
    c.equal("receive: device got the job", dev.received(), job)

    # Mode 1: every answer shown with a line end, to an output file.
    answers = 'send:\\x01TD"one"\\x17\\x01AA17\\x17'
    dev = Device(env, [f"recv:{len(job)}", answers, "sleep:300", "close"])
    status, out, err, _ = env.morlink_run(["-s127.0.0.1", dev.arg(), "-l", "-m1", "-r1", "-oout.bin"], stdin=job)
    dev.received()
    c.equal("receive: filter mode 1 to a file, status", status, 0)
    c.equal("receive: output file holds the shown answers", env.read("out.bin"), b"one\n\x01AA17\x17\n")
    c.equal("receive: time-out after the device closed", text(err), "Timeout\n")

    # A silent device: "Timeout" after the time-out; with t the status is 1.
    dev = Device(env, [f"recv:{len(job)}", "sleep:4000", "close"])
    status, out, err, secs = env.morlink_run(["-s127.0.0.1", dev.arg(), "-r1"], stdin=job)
    dev.proc.kill()
    dev.proc.wait()
    c.equal("timeout: status 0 without t", status, 0)
    c.equal("timeout: message", text(err), "Timeout\n")
    c.check("timeout: after about one second", 0.9 <= secs < 6, f"{secs:.1f} s")

    dev = Device(env, [f"recv:{len(job)}", "sleep:4000", "close"])
    status, _, err, _ = env.morlink_run(["-s127.0.0.1", dev.arg(), "-rt1"], stdin=job)
    dev.proc.kill()
    dev.proc.wait()
    c.equal("timeout: status 1 with -rt", status, 1)
    c.equal("timeout: message with -rt", text(err), "Timeout\n")


def morlink_failures(env, c):
    # A port that refuses: bound but not listening.
    refusing = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    refusing.bind(("127.0.0.1", 0))
    port = refusing.getsockname()[1]
    status, _, err, _ = env.morlink_run(["-s127.0.0.1", f"-p{port}"], stdin=b"x")
    refusing.close()
    message = text(err)
    c.equal("refused: status 252", status, 252)
    c.check("refused: the system's message, one line",
            message.endswith("\n") and message.count("\n") == 1 and "refused" in message.lower()
            and message != "error during TCP/IP connect\n", repr(message))

    status, _, err, _ = env.morlink_run(["-s127.0.0.1", "-imissing.bin"])
    c.equal("missing input: status 255", status, 255)
    c.equal("missing input: message", text(err), "programm error (i.e. false argument)\n")

    # A directory, or the input file as the output, ends the run before any connection.
    env.write("job.prn", b"job\r\n" * 100)
    for name, argv in (("directory as input", ["-i."]),
                       ("output that is the input", ["-ijob.prn", "-ojob.prn"]),
                       ("output that is the input by another name", ["-ijob.prn", "-o.\\JOB.PRN"])):
        dev = Device(env, [])
        status, _, err, _ = env.morlink_run(["-s127.0.0.1", dev.arg(), "-r1"] + argv)
        dev.proc.kill()
        dev.proc.wait()
        c.equal(f"{name}: status 255 and message", (status, text(err)),
                (255, "programm error (i.e. false argument)\n"))
    c.equal("output that is the input: the input is left whole", env.read("job.prn"), b"job\r\n" * 100)
    # Without -i, the file that standard input reads (Wine tells no volume for it):
    # as the output, the trace file or the result record's file it is refused and
    # left whole; another file beside it is written.
    job = b"job\r\n" * 100
    for name, argv in (("output that is standard input's file", ["-ojob.prn"]),
                       ("output that is standard input's file by another name", ["-o.\\JOB.PRN"]),
                       ("trace file that is standard input's file", ["-fjob.prn"]),
                       ("record file that is standard input's file", ["-jjob.prn"])):
        env.write("job.prn", job)
        dev = Device(env, [])
        status, _, err, _ = env.morlink_run(["-s127.0.0.1", dev.arg()] + argv, stdin_file="job.prn")
        dev.proc.kill()
        dev.proc.wait()
        c.equal(f"{name}: status 255 and message, the file left whole",
                (status, text(err).splitlines()[:1], env.read("job.prn") == job),
                (255, ["programm error (i.e. false argument)"], True))
    env.write("job.prn", job)
    dev = Device(env, [])
    status, _, _, _ = env.morlink_run(["-s127.0.0.1", dev.arg(), "-oanswer.bin"], stdin_file="job.prn")
    c.equal("another output beside standard input's file: status, the job sent, the output written",
            (status, dev.received() == job, env.read("answer.bin")), (0, True, b""))
    dev = Device(env, [])
    status, _, _, _ = env.morlink_run(["-s127.0.0.1", dev.arg(), "-iNUL", "-oNUL"])
    c.equal("the null device as input and output", (status, dev.received()), (0, b""))

    status, _, err, _ = env.morlink_run(["-s127.0.0.1", "-imissing.bin"], extra_env={"LANGUAGE": "de"})
    c.equal("catalogue: German message beside the program", text(err), "Programmfehler (z.B. falsches Argument)\n")
    status, out, _, _ = env.morlink_run(["-s127.0.0.1", "-X"], extra_env={"LANGUAGE": "de", "LANG": "C"})
    c.equal("catalogue: English in the C locale", (status, text(out)), (255, "unknown option -X\n"))
    status, out, _, _ = env.morlink_run(["-s127.0.0.1", "-X"], extra_env={"LANG": "de_DE.UTF-8"})
    c.equal("catalogue: German from LANG", (status, text(out)), (255, "unbekannte Option -X\n"))

    status, out, _, _ = env.morlink_run(["-s127.0.0.1", "-m7"])
    c.equal("bad mode: status and message", (status, text(out)), (255, "unknown mode (-m) -m7\n"))


# ---------------------------------------------------------------------------
# morlink.exe on COM9, a pseudo-terminal linked into the prefix


def read_until_exit(master, proc, quiet=0.3):
    data = bytearray()
    while True:
        ready, _, _ = select.select([master], [], [], 0.05)
        if ready:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                chunk = b""
            data += chunk
            continue
        if proc.poll() is not None:
            # Whatever the port still holds.
            end = time.monotonic() + quiet
            while time.monotonic() < end:
                ready, _, _ = select.select([master], [], [], 0.05)
                if ready:
                    try:
                        data += os.read(master, 4096)
                    except OSError:
                        break
            return bytes(data)


def start_wine(env, argv, extra_env=None):
    e = dict(os.environ, WINEDEBUG="-all", LANG="C.UTF-8")
    e.update(extra_env or {})
    return subprocess.Popen([env.wine, env.morlink] + argv, cwd=env.work, env=e,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def morlink_serial(env, c):
    dosdevices = os.path.join(env.prefix, "dosdevices")
    com9 = os.path.join(dosdevices, "com9")
    com8 = os.path.join(dosdevices, "com8")
    master, slave = os.openpty()
    tty.setraw(master)
    for link, target in ((com9, os.ttyname(slave)), (com8, os.path.join(env.work, "no-such-port"))):
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(target, link)
    try:
        data = b"serial\r\n\x1a\x00\x11\x13" + noise(3000, 3)
        env.write("serial.bin", data)
        proc = start_wine(env, ["-c9", "-b115200", "-iserial.bin"])
        got = read_until_exit(master, proc)
        _, err = proc.communicate()
        c.equal("serial: status", proc.returncode, 0)
        c.equal("serial: the port receives the file unchanged", got, data)

        proc = start_wine(env, ["-c9", "-l", "-r5"])
        time.sleep(1.0)
        os.write(master, b'xx\x01TD"hi"\x17')
        try:
            out, err = proc.communicate(timeout=20)
        except subprocess.TimeoutExpired:
            proc.kill()
            out, err = proc.communicate()
        c.equal("serial: answer received and filtered", (proc.returncode, out), (0, b"hi"))

        proc = start_wine(env, ["-c9", "-rt1"])
        start = time.monotonic()
        out, err = proc.communicate(timeout=20)
        secs = time.monotonic() - start
        c.equal("serial: read time-out with -rt", (proc.returncode, text(err)), (1, "Timeout\n"))
        c.check("serial: time-out after about one second", 0.9 <= secs < 6, f"{secs:.1f} s")

        # Sending while the receiver waits; its time-out then ends the run.
        proc = start_wine(env, ["-c9", "-r1", "-iserial.bin"])
        got = read_until_exit(master, proc)
        _, err = proc.communicate()
        c.equal("serial: send and time-out without t", (proc.returncode, text(err), got), (0, "Timeout\n", data))

        status, _, err, _ = env.morlink_run(["-c8"])
        message = text(err)
        c.equal("serial: missing port status 240", status, 240)
        c.check("serial: missing port gives the system's message",
                message.endswith("\n") and message.count("\n") == 1 and message != "serial error\n", repr(message))

        status, _, err, _ = env.morlink_run(["-c9", "-pq"])
        c.equal("serial: rejected mode string", (status, text(err)), (240, "serial error\n"))
    finally:
        os.unlink(com9)
        os.unlink(com8)
        os.close(master)
        os.close(slave)


@contextlib.contextmanager
def pty_port(env, com):
    """A pseudo-terminal as the port COMn of Wine: yields [master], raw; the
    test may close the master and put -1 in its place."""
    link = os.path.join(env.prefix, "dosdevices", com)
    master, slave = os.openpty()
    tty.setraw(master)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)
    fds = [master]
    try:
        yield fds
    finally:
        os.unlink(link)
        for fd in fds + [slave]:
            if fd >= 0:
                os.close(fd)


def morlink_serial_high_port(env, c):
    """Ports above COM9 (COM12) by their name and by the device namespace."""
    with pty_port(env, "com12") as fds:
        data = noise(2000, 12)
        env.write("high.bin", data)
        for name in ("COM12", "\\\\.\\COM12"):
            proc = start_wine(env, ["-c" + name, "-ihigh.bin"])
            got = read_until_exit(fds[0], proc)
            proc.communicate()
            c.equal(f"serial: -c{name} reaches the port", (proc.returncode, got), (0, data))


def morlink_serial_line_lost(env, c):
    """The line goes away while a write waits on the port (COM7)."""
    with pty_port(env, "com7") as fds:
        env.write("long.bin", b"\x55" * (1 << 20))
        proc = start_wine(env, ["-c7", "-ilong.bin"])
        # Once the first bytes are out, nothing more is read: the port's
        # buffer fills and the next write waits until the line is gone.
        select.select([fds[0]], [], [], 20)
        time.sleep(0.5)
        os.close(fds[0])
        fds[0] = -1
        try:
            _, err = proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            _, err = proc.communicate()
        message = text(err)
        c.equal("serial: lost line while writing, status 251", proc.returncode, 251)
        # Only the last line is morlink's: a Wine server that starts with
        # this process may write its own lines to the same stream.
        last = message.splitlines()[-1] if message.strip() else ""
        c.check("serial: a failed write gives the system's message",
                last != "" and "error during sending" not in message, repr(message[-300:]))


# ---------------------------------------------------------------------------
# pakwrap.exe


def pakwrap(env, c):
    payload = noise(120000, 11)
    image = b"SH3" + bytes(145) + payload
    env.write("sh3.bin", image)
    status, out, _, _ = env.run(env.pakwrap, ["sh3.bin", "sh3.img", "/s:12345678"])
    crc = zlib.crc32(payload)
    expected = bytearray(image)
    expected[4:8] = crc.to_bytes(4, "big")
    expected[144:148] = bytes([0x12, 0x34, 0x56, 0x78])
    c.equal("pakwrap: SH3 status", status, 0)
    c.check("pakwrap: SH3 report", f"CRC:{crc:08x} Total len:{len(payload)}\n" in text(out), text(out))
    c.equal("pakwrap: SH3 image byte for byte", env.read("sh3.img"), bytes(expected))

    font = b"123456789\r\n\x1a\x00" + noise(70000, 4)
    env.write("font.bin", font)
    status, out, _, _ = env.run(env.pakwrap, ["font.bin", "font.out", "/f"])
    c.equal("pakwrap: font status", status, 0)
    c.equal("pakwrap: font with its CRC in front", env.read("font.out"),
            zlib.crc32(font).to_bytes(4, "little") + font)

    status, out, _, _ = env.run(env.pakwrap, ["font.bin", "none.out"])
    c.equal("pakwrap: no mode switch gives status 2", status, 2)
    c.check("pakwrap: no mode switch writes no file", not env.exists("none.out"))

    status, out, _, _ = env.run(env.pakwrap, ["font.bin", "font.bin", "/f"])
    c.check("pakwrap: input as output refused",
            "Input and output are the same file" in text(out) and env.read("font.bin") == font, text(out))
    status, out, _, _ = env.run(env.pakwrap, ["font.bin", "font.out", "/f"])
    c.equal("pakwrap: an existing other output is no same file", status, 0)


# ---------------------------------------------------------------------------
# Inputs of more than 2 GiB: a sparse file, so nothing of that size is written.
# Outputs go to the null device or through a FIFO.

BIG_SIZE = 2**31 + 1000


def drain_fifo(path, out):
    with open(path, "rb") as f:
        out["head"] = f.read(64)
        size = len(out["head"])
        while chunk := f.read(1 << 20):
            size += len(chunk)
        out["size"] = size


def through_fifo(path, run):
    """Runs run() while a thread reads the FIFO: (status, first bytes, byte count)."""
    out = {}
    reader = threading.Thread(target=drain_fifo, args=(path, out))
    reader.start()
    status = run()
    # A writer that never opened the FIFO leaves the reader waiting: open it once.
    while reader.is_alive():
        try:
            os.close(os.open(path, os.O_WRONLY | os.O_NONBLOCK))
        except OSError:
            pass
        reader.join(0.1)
    return status, out.get("head"), out.get("size")


def linux_pakwrap(env, argv):
    return subprocess.run([env.linux_pakwrap] + argv, capture_output=True, cwd=env.work, timeout=120)


def crc_line(out):
    return [line for line in text(out).splitlines() if line.startswith("CRC:")]


def big_input(env, c):
    big = os.path.join(env.work, "big.bin")
    with open(big, "wb") as f:
        f.write(b"123456789\r\n\x1a\x00" * 10)
        f.truncate(BIG_SIZE)
    try:
        status, out, _, _ = env.run(env.pakwrap, ["big.bin", "NUL", "/f"], timeout=120)
        linux = linux_pakwrap(env, ["big.bin", os.devnull, "/f"])
        c.equal("big input: font CRC and length as on Linux", (status, crc_line(out)),
                (linux.returncode, crc_line(linux.stdout)))

        fifo = os.path.join(env.work, "store.fifo")
        os.mkfifo(fifo)
        got = through_fifo(fifo, lambda: env.run(env.pakwrap, ["big.bin", "store.fifo", "/m=dir/x"],
                                                 timeout=120)[0])
        want = through_fifo(fifo, lambda: linux_pakwrap(env, ["big.bin", "store.fifo", "/m=dir/x"]).returncode)
        c.check("big input: stored file announced with its length, as on Linux",
                got == want and want[2] > BIG_SIZE, f"got {got!r}, want {want!r}")

        dev = Device(env, ["recv:64", "reset"])
        env.morlink_run(["-s127.0.0.1", dev.arg(), "-abig.bin", "-ibig.bin"], timeout=120)
        record = dev.received() or b""
        c.check("big input: morlink announces the whole length",
                record.startswith(frame(b"Mbig.bin*%d" % BIG_SIZE)), repr(record[:40]))
    finally:
        os.unlink(big)


def listening(pid, port):
    """True once process pid's own socket listens on 127.0.0.1:port."""
    local = "0100007F:%04X" % port
    with open("/proc/net/tcp") as tcp:
        inodes = [f[9] for f in (line.split() for line in tcp) if f[1] == local and f[3] == "0A"]
    fds = f"/proc/{pid}/fd"
    links = []
    for fd in os.listdir(fds):
        with contextlib.suppress(OSError):
            links.append(os.readlink(os.path.join(fds, fd)))
    return any(f"socket:[{inode}]" in links for inode in inodes)


def morlink_port_server(env, c):
    """The serial link through ser2net (-crfc2217://) to a pseudo-terminal."""
    if not os.path.exists("/usr/sbin/ser2net"):
        c.check("port server: ser2net is installed (tools/setup ports)", False)
        return
    master, slave = os.openpty()
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    config = os.path.join(env.work, "ser2net.yaml")
    with open(config, "w") as f:
        f.write("%YAML 1.1\n---\nconnection: &c\n"
                f"  accepter: telnet(rfc2217),tcp,127.0.0.1,{port}\n"
                f"  connector: serialdev,{os.ttyname(slave)},9600n81,local\n")
    server = subprocess.Popen(["/usr/sbin/ser2net", "-n", "-d", "-u", "-c", config],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 20
        while not listening(server.pid, port) and time.monotonic() < deadline and server.poll() is None:
            time.sleep(0.01)
        data = bytes(range(256)) * 8 + b"\xff" * 300 + b"\r\x00\r\n" + noise(30000, 5)
        env.write("rfc2217.bin", data)
        # The terminal is read while the program runs, and answers once it
        # has everything, which ends the run: ser2net drops what it still
        # holds for the terminal when the client leaves.
        got = bytearray()

        def read_terminal():
            end = time.monotonic() + 60
            while len(got) < len(data) and time.monotonic() < end:
                if select.select([master], [], [], 0.05)[0]:
                    got.extend(os.read(master, 65536))
            os.write(master, b'\x01TD"d\xff\xffne"\x17')

        reader = threading.Thread(target=read_terminal)
        reader.start()
        status, out, err, _ = env.morlink_run(["-s127.0.0.1", "-p1", f"-crfc2217://127.0.0.1:{port}", "-b19200",
                                               "-e10", "-j", "-l", "-r60", "-irfc2217.bin"], timeout=90)
        reader.join()
        c.equal("port server: status", status, 0)
        c.equal("port server: the terminal receives the file unchanged", bytes(got), data)
        c.equal("port server: the answer reaches the filter", out, b"d\xff\xffne")
        c.check("port server: the record names the link and confirms",
                '"link":"rfc2217"' in text(err) and '"confirmed":true' in text(err), text(err))
    finally:
        server.terminate()
        try:
            server.wait(5)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        os.close(master)
        os.close(slave)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--wine", required=True)
    parser.add_argument("--morlink", required=True)
    parser.add_argument("--pakwrap", required=True)
    parser.add_argument("--simdevice", required=True)
    parser.add_argument("--linux-pakwrap", required=True, help="the Linux build's pakwrap, for comparison")
    parser.add_argument("--label", default="", help="names the target in the closing lines, e.g. win32")
    args = parser.parse_args()
    c = Checks()
    with tempfile.TemporaryDirectory(prefix="windows-e2e.") as work:
        args.work = work
        env = Env(args)
        for group in (pakwrap, big_input, morlink_network, morlink_receiving, morlink_failures, morlink_serial,
                      morlink_serial_high_port, morlink_serial_line_lost, morlink_port_server):
            group(env, c)
    return c.finish("Windows checks", args.label)


if __name__ == "__main__":
    sys.exit(main())
