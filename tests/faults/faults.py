#!/usr/bin/env python3
"""Failed system calls in every combination: starts morlink and pakwrap many
times, several at once, against the simulated device and pseudo-terminals,
with libfiu making one of their POSIX calls fail, and holds every run to the
rules of their endings (see RULES).

Usage: faults.py RELEASE_BUILD ASAN_BUILD [SECONDS [SEED]]
Without SECONDS: the fixed list (each failure point once, on its first call,
on each program path, with fixed seeds). With SECONDS: random cases for that
long. Exits 1 when a rule is broken."""
import errno as E
import fcntl
import json
import os
import random
import re
import shlex
import subprocess
import sys
import tempfile
import threading
import time
import tty
from concurrent.futures import ThreadPoolExecutor

RULES = {
    1: "status 0: the device got the input and frames, the record agrees with the trace, pakwrap's output is sound",
    2: "another status: its message, the record with that status, the input files unchanged",
    3: "no crash, no sanitizer report, no run beyond its time-outs, the serial port free afterwards",
    4: "the output is what the trace shows as received; standard error holds whole lines and whole trace entries",
    5: "a failure that may be retried is retried: the run ends as without failures",
}
# Each failure point with the errnos that its call can really return there.
FILE_POINTS = {
    "posix/io/rw/write": [E.EIO, E.ENOSPC, E.EPIPE, E.EINTR],
    "posix/io/rw/write/reduce": [0],
    "posix/io/rw/read": [E.EIO, E.EINTR],
    "posix/io/rw/read/reduce": [0],
    "posix/io/oc/open": [E.ENOENT, E.EACCES, E.EMFILE, E.EINTR],
    "posix/stdio/oc/fopen": [E.ENOENT, E.EACCES, E.EMFILE],
    "posix/io/oc/close": [E.EIO, E.EINTR],
}
NET_POINTS = {
    "posix/io/net/send": [E.ECONNRESET, E.ENOBUFS, E.EPIPE, E.EINTR],
    "posix/io/net/sendto": [E.ENOBUFS, E.ECONNREFUSED, E.EINTR],
    "posix/io/net/recv": [E.ECONNRESET, E.ETIMEDOUT, E.EINTR],
    "posix/io/net/recvfrom": [E.ECONNREFUSED, E.EINTR],
    "posix/io/net/poll": [E.EINTR, E.ENOMEM],
    "posix/io/net/connect": [E.ECONNREFUSED, E.ETIMEDOUT, E.ENETUNREACH, E.EINTR],
    "posix/io/net/socket": [E.EMFILE, E.ENOBUFS, E.EACCES],
    "posix/io/net/shutdown": [E.ENOTCONN, E.ENOBUFS],
}
NOT_INJECTED = ("short sends (no reduce point for send), stdio's own writes, getsockopt, fcntl, fstat, flock, "
                "the terminal calls, ioctl, sendfile, splice, copy_file_range, getaddrinfo")
MESSAGES = {"Timeout", "serial error", "error during receiving", "error during sending",
            "error during TCP/IP connect", "error during host name resolution", "common network error",
            "programm error (i.e. false argument)"}
SYSTEXT = {os.strerror(i) for i in range(1, 134)}
PAK_MESSAGES = ("Failed to open file", "Wrong bin file!", "Problem writing file", "Failed to read",
                "Failed to write", "Error: You have to specify")
TRACE_HEAD = re.compile(r"^\d+\.\d{6} (send|recv) (\d+)$")
TRACE_DATA = re.compile(r"^([0-9a-f]{8})  ([0-9a-f ]{50})\|([\x20-\x7e]{1,16})\|$")
OTHER_LINES = re.compile(r"^(|\d+ bytes sent in \d+\.\d s \(\d+\.\d KiB/s\)|the result record cannot be written: .*"
                         r"|\.+|.*, Line \d+: -?\d+, -?\d+:|IP Address: .*|Send File: .*|\x01M.*\x17)$")
HERE = os.path.dirname(os.path.abspath(__file__))
SOH, ETB = "\\x01", "\\x17"
TEXT, REPLY = f'send:{SOH}TD"hello"{ETB}', f"send:{SOH}AA0001{ETB}"
# The device's behaviours as simulated device steps; L is its time limit in s,
# N the count of bytes that morlink is to send.
DEVICES = {
    "takes all": lambda L, N: [],
    "closes early": lambda L, N: ["recv:100", "close"],
    "resets": lambda L, N: ["recv:3000", "reset"],
    "never reads": lambda L, N: ["stall"],
    "reads slowly": lambda L, N: ["trickle:65536"],
    "answers before": lambda L, N: [TEXT, "send:pre", REPLY],
    "answers during": lambda L, N: ["recv:500", f'send:{SOH}TD"du', "sleep:30", f'send:ring"{ETB}x', REPLY],
    "answers after": lambda L, N: ["quiet:300", f"send:{SOH}AOK;64{ETB}", "blob:64", f'send:{SOH}TD"unfin'],
    "never closes": lambda L, N: [f"recv:{N}", f"hold:{L * 1000}"],
}
# Devices that read everything and send nothing: without -e, only they are
# sure to get every byte (an answer left unread makes the close a reset).
READERS = {"takes all", "reads slowly", "never closes"}
ANSWERS = {"answers before", "answers during", "answers after"}
SERIAL_DEVICES = ["takes all", "answers before", "answers after", "reads slowly", "never reads"]
PAK_MODES = [["/s"], ["/s:8000"], ["/a"], ["/l"], ["/f"], ["/s", "/SH3:1:-2:3:text"], ["/m=C:/FW/A.IMG"],
             ["/r", "/m=C:/FW/B.IMG"], ["/v"]]
LINKS = ["tcp-file", "tcp-pipe", "udp", "serial"]


class Run:
    """One program run: command line, failure point, and what came of it."""

    def __init__(self, **kw):
        self.__dict__.update(kw)
        self.broken = []

    def rule(self, number, ok, what, known=""):
        if not ok and len(self.broken) < 4:
            self.broken.append((number, what + (f" [known: issue 28 point {known}]" if known else "")))


def safe(argv):
    """A morlink command line reaches only the simulated device or a pseudo-terminal."""
    if "morlink" not in os.path.basename(argv[0]):
        return True
    net = "-s127.0.0.1" in argv and any(re.fullmatch(r"-p\d+", a) for a in argv)
    return net or any(a.startswith("-c/dev/pts/") for a in argv)


def environment(build, point, errno, prob, seed):
    env = dict(os.environ, LC_ALL="C", LANGUAGE="")
    if point:
        what = f"name={point},failinfo={errno}"
        env["FIU_ENABLE"] = f"enable_random {what},probability={prob}" if prob else f"enable {what},onetime"
        env["FIU_PRNG_SEED"] = str(seed)
    else:
        env["FIU_ENABLE"] = ""
    if build == "asan":
        env.update(FIU_CTRL_FIFO="", LD_PRELOAD=f"{ASAN_LIB} /usr/lib/fiu/fiu_run_preload.so "
                   "/usr/lib/fiu/fiu_posix_preload.so", ASAN_OPTIONS="detect_leaks=1:abort_on_error=0",
                   LSAN_OPTIONS=f"suppressions={HERE}/lsan.supp:print_suppressions=0")
    return env


def preload(build, env):
    """fiu-run for the release build: it sets the enable variable from its -c command."""
    return ["fiu-run", "-x", "-f", ""] + (["-c", env["FIU_ENABLE"]] if env["FIU_ENABLE"] else []) \
        if build == "release" else []


def reader(stream, out, slow):
    while chunk := stream.read1(1000 if slow else 65536):
        out += chunk
        if slow:
            time.sleep(0.002)


def launch(argv, build, point, errno, prob, seed, tmp, stdin_data, slow, bound, forever):
    """Starts argv (under fiu-run, or with libasan first), feeds it, reads it; returns status, out, err, secs."""
    if not safe(argv):
        raise SystemExit("refused to start a command line without the simulated device: " + " ".join(argv))
    env = environment(build, point, errno, prob, seed)
    argv = preload(build, env) + argv
    t0 = time.monotonic()
    proc = subprocess.Popen(argv, env=env, stdin=subprocess.PIPE if stdin_data is not None else subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=tmp)
    out, err = bytearray(), bytearray()
    threads = [threading.Thread(target=reader, args=(proc.stdout, out, slow)),
               threading.Thread(target=reader, args=(proc.stderr, err, slow))]
    if stdin_data is not None:
        threads.append(threading.Thread(target=feed, args=(proc.stdin, stdin_data)))
    for t in threads:
        t.start()
    late = ""
    try:
        proc.wait(timeout=bound)
    except subprocess.TimeoutExpired:
        late = "" if forever else f"still running after {bound:.0f} s"
        proc.terminate()
        try:
            proc.wait(timeout=3)
        except subprocess.TimeoutExpired:
            late = "did not end at once after SIGTERM"
            proc.kill()
            proc.wait()
    for t in threads:
        t.join()
    return proc.returncode, bytes(out), bytes(err), time.monotonic() - t0, late


def feed(pipe, data):
    try:
        for i in range(0, len(data), 65536):
            pipe.write(data[i:i + 65536])
        pipe.close()
    except OSError:
        pass


def pty_device(master, behaviour, got, stop):
    """The device on a pseudo-terminal's master side."""
    answered = behaviour != "answers before"
    if not answered:
        os.write(master, b'\x01TD"hello"\x17pre\x01AA0001\x17')
    last = time.monotonic()
    while not stop.is_set():
        if behaviour == "never reads":
            time.sleep(0.05)
            continue
        try:
            chunk = os.read(master, 4096 if behaviour == "reads slowly" else 65536) if readable(master) else b""
        except OSError:
            chunk = b""
        got += chunk
        last = time.monotonic() if chunk else last
        if behaviour == "reads slowly":
            time.sleep(0.01)
        if behaviour == "answers after" and not answered and got and time.monotonic() - last > 0.3:
            os.write(master, b"\x01AOK;8\x17ABCDEFGH\x01TD\"unfin")
            answered = True


def readable(fd):
    import select
    return bool(select.select([fd], [], [], 0.05)[0])


def port_free(slave):
    buf = bytearray(4)
    fcntl.ioctl(slave, 0x80045440, buf)  # TIOCGEXCL
    return int.from_bytes(buf, sys.byteorder) == 0


def morlink_case(rng, quick, link=None):
    """Draws a morlink combination (over the link given)."""
    link = link or rng.choice(LINKS)
    devices = SERIAL_DEVICES if link == "serial" else list(DEVICES)
    c = dict(program="morlink", link=link, device=rng.choice(devices),
             size=rng.choice([0, 1, 100, 1022, 5000, 70000] + ([] if quick or link == "serial" else [1 << 20, 3 << 20])),
             receive=rng.choice(["", "", "-r", "-r1", "-r2", "-rs1", "-rt1", "-r*1"]),
             filter=rng.random() < 0.4, mode=rng.choice(["", "-m0", "-m1"]), console=rng.random() < 0.1,
             confirm=rng.random() < 0.3, memcard=link != "tcp-pipe" and rng.random() < 0.15,
             trace=rng.choice(["", "", "file", "stderr"]), record=rng.choice(["", "file", "stderr"]),
             progress=rng.random() < 0.15, debug=rng.random() < 0.05, output=rng.random() < 0.3,
             slow=rng.random() < 0.3, limit=3 if quick or rng.random() < 0.8 else 10, wait=rng.choice([1, 2]))
    if c["link"] == "udp":
        c["limit"] = 2  # the device never sees an end: it stops taking datagrams then
    return c


def run_morlink(c, build, point, errno, prob, seed, tmp):
    data = random.Random(seed).randbytes(c["size"])
    inp = os.path.join(tmp, "job.prn")
    with open(inp, "wb") as f:
        f.write(data)
    argv, serial, dev, master = [BUILDS[build] + "/code/morlink"], c["link"] == "serial", None, None
    if serial:
        master, slave = os.openpty()
        tty.setraw(slave)  # no echo of the answers written before morlink sets the port up
        argv.append("-c" + os.ttyname(slave))
        got, stop = bytearray(), threading.Event()
        thread = threading.Thread(target=pty_device, args=(master, c["device"], got, stop))
        thread.start()
    else:
        steps = DEVICES[c["device"]](c["limit"], len(expected_sent(c, data)))
        dev = subprocess.Popen([BUILDS["release"] + "/tests/simdevice", "-w", str(c["limit"]), "-o",
                                tmp + "/device", *(["-u"] if c["link"] == "udp" else []), *steps],
                               stdout=subprocess.PIPE, text=True)
        argv += ["-s127.0.0.1", "-p" + dev.stdout.readline().strip()] + (["-u"] if c["link"] == "udp" else [])
    if c["link"] != "tcp-pipe":
        argv.append("-i" + inp)
    opts = [c["receive"], "-l" if c["filter"] else "", c["mode"], "-t" if c["console"] else "",
            f"-e{c['wait']}" if c["confirm"] else "", "-aC:/FW/JOB.PRN" if c["memcard"] else "",
            {"": "", "file": "-f" + tmp + "/trace", "stderr": "-f"}[c["trace"]],
            {"": "", "file": "-j" + tmp + "/record", "stderr": "-j"}[c["record"]],
            "-g" if c["progress"] else "", "-d" if c["debug"] else "", "-o" + tmp + "/out" if c["output"] else ""]
    argv += [o for o in opts if o]
    # Waiting for ever by design: receiving without a time limit where no close
    # can come, and a serial send to a device that never reads.
    waits = (c["receive"] == "-r" and c["link"] in ("udp", "serial")) or (serial and c["device"] == "never reads")
    bound = 3 if waits else c["limit"] + 3 + (c["wait"] if c["confirm"] else 0) + (5 if c["debug"] else 0) + \
        (1 if c["receive"] else 0) + c["size"] / 300000 + \
        (c["size"] / 100000 if c["slow"] and c["trace"] == "stderr" else 0)  # 4.5 bytes of trace a byte
    status, out, err, secs, late = launch(argv, build, point, errno, prob, seed, tmp,
                                          data if c["link"] == "tcp-pipe" else None, c["slow"], bound, waits)
    if serial:
        time.sleep(0.1)
        stop.set()
        thread.join()
        received, free = bytes(got), port_free(slave)
        os.close(slave)
        os.close(master)
    else:
        free = True
        try:
            dev.wait(timeout=c["limit"] + 2 if status == 0 else 0.5)
        except subprocess.TimeoutExpired:
            dev.terminate()
            dev.wait()
        received = read(tmp + "/device")
        if received is None and status == 0:
            print(f"faults: the device of {argv} did not end in time", flush=True)
    r = Run(case=c, argv=argv, build=build, point=point, errno=errno, prob=prob, seed=seed, status=status, out=out,
            err=err, secs=secs, late=late, data=data, received=received, free=free, input_kept=read(inp) == data,
            output=read(tmp + "/out") if c["output"] else out, trace=read(tmp + "/trace"), record=read(tmp + "/record"))
    check_morlink(r)
    r.clean = status == 0
    return r


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None
    finally:
        if os.path.exists(path):
            os.unlink(path)


def parse_trace(lines):
    """Trace entries among lines: (entries [(kind, bytes)], other lines, faults)."""
    entries, other, faults, i = [], [], [], 0
    while i < len(lines):
        m = TRACE_HEAD.match(lines[i])
        if not m:
            if TRACE_DATA.match(lines[i]):
                faults.append(f"trace data line outside an entry: {lines[i]!r}")
            other.append(lines[i])
            i += 1
            continue
        n, data, i = int(m.group(2)), bytearray(), i + 1
        while len(data) < n and i < len(lines) and (d := TRACE_DATA.match(lines[i])):
            if int(d.group(1), 16) != len(data):
                faults.append(f"trace offset {d.group(1)} where {len(data):08x} was due")
            data += bytes.fromhex(d.group(2).replace(" ", ""))
            i += 1
        if len(data) != n and i < len(lines):
            faults.append(f"trace entry of {n} bytes holds {len(data)}, then {lines[i]!r}")
        entries.append((m.group(1), bytes(data)))
    return entries, other, faults


def subsequence(small, big):
    it = iter(big)
    return all(b in it for b in small)


def expected_sent(c, data):
    frames = b""
    if c["console"]:
        for cmd in ("RCRA--r1" if c["link"] == "serial" else "RCRA--r2", "RCRB--r1", "TK", "TD"):
            frames += b"\x01" + cmd.encode() + b"\x17"
    if c["memcard"]:
        frames += b"\x01MC:/FW/JOB.PRN*%d\x17" % (0 if c["link"] == "tcp-pipe" else len(data))
    return frames + data


def check_morlink(r):
    c, status = r.case, r.status
    text = r.err.decode("latin-1")
    sanitizer = re.search(r"(AddressSanitizer|LeakSanitizer|runtime error:).*", text)
    r.rule(3, not sanitizer, f"sanitizer: {sanitizer.group(0) if sanitizer else ''}")
    r.rule(3, status >= 0 or (status == -15 and not r.late), f"ended by signal {-status}")
    r.rule(3, not r.late, f"{r.late}")
    r.rule(3, r.free, "the serial port is still held (TIOCGEXCL)")
    if status < 0 or sanitizer:
        return
    lines = text.split("\n")
    r.rule(4, lines[-1] == "", f"standard error ends inside a line: {lines[-1][-80:]!r}", "3")
    entries, other, faults = parse_trace(lines[:-1])
    for f in faults:
        r.rule(4, False, f, "3")
    record = None
    for line in other:
        if line.startswith("{"):
            try:
                record = json.loads(line)
                continue
            except ValueError:
                pass
        ok = line in MESSAGES or line in SYSTEXT or OTHER_LINES.match(line)
        r.rule(4, ok, f"standard error line that is no message: {line[:100]!r}",
               "3" if any(m in line for m in MESSAGES | SYSTEXT) or OTHER_LINES.match(line.lstrip(".")) else "")
    if c["trace"] == "file" and r.trace is not None:
        entries, _, faults = parse_trace(r.trace.decode("latin-1").split("\n")[:-1])
        for f in faults:
            r.rule(4, False, "trace file: " + f)
    if c["record"] == "file" and r.record:
        try:
            record = json.loads(r.record.decode().splitlines()[-1])
        except ValueError:
            r.rule(2, False, f"record file does not parse: {r.record[-200:]!r}")
    cannot = "the result record cannot be written" in text
    if c["record"]:
        r.rule(2, cannot or (record is not None and record.get("status") == status),
               f"record {record} for status {status}", "3" if '{"tool"' in text and record is None else "")
    r.rule(2, r.input_kept, "the input file changed", "5")
    if status != 0:
        glued = any(m in line and line not in MESSAGES | SYSTEXT for line in other for m in MESSAGES | SYSTEXT)
        r.rule(2, any(line in MESSAGES or line in SYSTEXT for line in other), "no message for the status",
               "3" if glued else "")
    sent = b"".join(d for k, d in entries if k == "send")
    recv = b"".join(d for k, d in entries if k == "recv")
    tcp = c["link"].startswith("tcp")
    if c["trace"] and tcp:
        zeros = sum(1 for k, d in entries if k == "recv" and not d)
        r.rule(4, zeros <= 1, f"{zeros} recv 0 entries for one connection", "8")
    if record and c["link"] == "udp" and c["confirm"]:
        r.rule(1, record.get("confirmed") is None, f"confirmed {record.get('confirmed')} over UDP", "6")
    serial_reads = c["device"] != "never reads"
    # A slow device that reaches its time limit closes with the rest unread.
    in_time = c["device"] != "reads slowly" or c["size"] <= c["limit"] * 500000
    if status == 0:
        want = expected_sent(c, r.data)
        got = r.received or b""
        ends = c["filter"] and c["device"] in ANSWERS
        if c["receive"].startswith("-r*"):
            got = got.rstrip(b" ") if got.rstrip(b" ").startswith(want) else got
        if c["link"] == "udp":
            r.rule(1, subsequence(got, want), f"device got {len(got)} bytes that were not sent in order")
        elif (c["device"] in READERS and c["link"] != "serial" and in_time) or (c["confirm"] and tcp) or \
                (serial_reads and c["link"] == "serial"):
            same = got == want or (ends and want.startswith(got))
            r.rule(1, same, f"device got {len(got)} bytes of {len(want)} (first difference at "
                   f"{next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))})")
        if record and c["trace"]:
            r.rule(1, record["sent"] + record["frames"] == len(sent) and record["received"] == len(recv),
                   f"record sent {record['sent']}+{record['frames']} received {record['received']}, "
                   f"trace sent {len(sent)} received {len(recv)}", "4")
    if c["trace"] and c["receive"] and status in (0, 1) and r.output is not None:
        out = r.output
        if not c["filter"]:
            ok = recv.startswith(out) if c["receive"].startswith("-rs") else out == recv
            r.rule(4, ok, f"output of {len(out)} bytes, trace shows {len(recv)} received",
                   "1" if c["confirm"] else "")
        else:
            r.rule(4, subsequence(out.replace(b"\n", b""), recv), "filtered output not taken from the received bytes")
        if c["filter"] and c["receive"].startswith("-rs") and c["confirm"]:
            r.rule(4, b"unfin" not in out and b'"du' not in out, "-rs -e wrote a held answer", "2")


PAK_CACHE = {}


def pak_input(mode, size, seed):
    rng = random.Random(seed)
    if mode[0] == "/v":
        src = pak_input(["/s"], size, seed)
        return pakwrap_reference(["/s"], size, seed)[1] or src
    head = rng.choice([b"SH3\0", b"ATM\0", b"SLC\0", b"\x01\x71\0\0\x00\x01\0\0", b"XYZ\0"])
    return (head + rng.randbytes(max(size - len(head), 0)))[:max(size, 1)]


def pakwrap_reference(mode, size, seed):
    key = (tuple(mode), size, seed)
    if key not in PAK_CACHE:
        with tempfile.TemporaryDirectory() as tmp:
            data = pak_input(mode, size, seed)
            with open(tmp + "/in", "wb") as f:
                f.write(data)
            args = ["in", "/v"] if mode[0] == "/v" else ["in", "out", *mode]
            p = subprocess.run([BUILDS["release"] + "/code/pakwrap/pakwrap", *args], cwd=tmp, capture_output=True)
            out = read(tmp + "/out")
            verified = mode[0] == "/v" or p.returncode != 0 or subprocess.run(
                [BUILDS["release"] + "/code/pakwrap/pakwrap", "out", "/v"], cwd=tmp, input=None,
                capture_output=True).returncode in (0, 1)
        PAK_CACHE[key] = (p.returncode, out, p.stdout, verified)
    return PAK_CACHE[key]


def run_pakwrap(c, build, point, errno, prob, seed, tmp):
    mode, size = c["mode"], c["size"]
    ref_status, ref_out, ref_text, verified = pakwrap_reference(mode, size, c["seed"])
    data = pak_input(mode, size, c["seed"])
    with open(tmp + "/in", "wb") as f:
        f.write(data)
    argv = [BUILDS[build] + "/code/pakwrap/pakwrap", "in"] + (["/v"] if mode[0] == "/v" else ["out", *mode])
    status, out, err, secs, late = launch(argv, build, point, errno, prob, seed, tmp, None, c["slow"], 30, False)
    r = Run(case=c, argv=argv, build=build, point=point, errno=errno, prob=prob, seed=seed, status=status, out=out,
            err=err, secs=secs, late=late, data=data)
    written = read(tmp + "/out")
    text = (out + err).decode("latin-1")
    sanitizer = re.search(r"(AddressSanitizer|LeakSanitizer|runtime error:).*", text)
    r.rule(3, not sanitizer and status >= 0 and not late, f"crash, sanitizer or time-out: {late} {status} "
           f"{sanitizer.group(0) if sanitizer else ''}")
    r.rule(2, read(tmp + "/in") == data, "the input file changed")
    if status == 0:
        r.rule(1, ref_status == 0 and (mode[0] == "/v" or (written == ref_out and verified)),
               f"status 0 with an output that differs from a run without failures (reference status {ref_status})")
    elif status != ref_status:
        r.rule(2, any(line.startswith(PAK_MESSAGES) for line in out.decode("latin-1").split("\n")),
               f"status {status} without its message: {out[-200:]!r}")
    r.rule(4, err == b"", f"pakwrap wrote to standard error: {err[:200]!r}")
    r.clean = status == ref_status
    if errno in (0, E.EINTR) and point:
        r.rule(5, status == ref_status and (status != 0 or mode[0] == "/v" or written == ref_out),
               f"status {status} where a run without failures gives {ref_status}")
    return r


def pakwrap_case(rng, quick):
    return dict(program="pakwrap", link="", device="", mode=rng.choice(PAK_MODES), seed=rng.randrange(1 << 30),
                size=rng.choice([1, 4, 200, 5000, 70000] + ([] if quick else [1 << 20, 3 << 20])),
                slow=rng.random() < 0.3)


def execute(job):
    """One job: a case with a failure point, and for a retried failure its twin without one."""
    c, build, point, errno, prob, seed = job
    with tempfile.TemporaryDirectory() as tmp:
        run = run_pakwrap if c["program"] == "pakwrap" else run_morlink
        r = run(c, build, point, errno, prob, seed, tmp)
        if c["program"] == "morlink" and point and (errno == E.EINTR or point.endswith("reduce")) and \
                c["device"] in ("takes all", "answers before") and r.status != 0 and not r.broken:
            twin = run(c, build, None, 0, 0, seed, tmp)
            r.rule(5, twin.status != 0, f"status {r.status} where the same run without failures gives 0")
    return r


def path_of(c, build):
    return f"{c['program']}/{build}" + (f" {c['link']}" if c["link"] else "")


def jobs(seconds, seed):
    """The fixed list, or a random stream of jobs for `seconds`."""
    rng = random.Random(seed)
    if seconds is None:
        for build in ("release", "asan"):
            for link in LINKS:
                for point, errnos in {None: [0], **FILE_POINTS, **NET_POINTS}.items():
                    for errno in errnos[:1] + ([E.EINTR] if E.EINTR in errnos[1:] else []):
                        c = morlink_case(rng, True, link)
                        if errno == E.EINTR or (point or "").endswith("reduce"):
                            c["device"] = rng.choice(["takes all", "answers before"])  # with a twin to compare
                        yield c, build, point, errno, 0, rng.randrange(1 << 30)
            for point, errnos in {None: [0], **FILE_POINTS}.items():
                for errno in errnos:
                    yield pakwrap_case(rng, True), build, point, errno, 0, rng.randrange(1 << 30)
        return
    points = {None: [0], **FILE_POINTS, **NET_POINTS}
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        c = pakwrap_case(rng, False) if rng.random() < 0.2 else morlink_case(rng, False)
        choices = [p for p in points if c["program"] == "morlink" or p is None or p in FILE_POINTS]
        point = rng.choice(choices)
        errno = rng.choice(points[point])
        # A call that a signal interrupts every time is no state a system reaches.
        prob = rng.choice([0, 0.02, 0.1, 0.3] + ([1.0] if errno != E.EINTR else [])) if point else 0
        yield c, rng.choice(["release", "asan"]), point, errno, prob, rng.randrange(1 << 30)


def bounded(pool, stream, most):
    """The results of the jobs in order, with a few started ahead: the random
    stream is drawn only while time is left."""
    ahead = []
    for job in stream:
        ahead.append(pool.submit(execute, job))
        if len(ahead) >= most:
            yield ahead.pop(0).result()
    for future in ahead:
        yield future.result()


def describe(r):
    """The run's failure point and case, and a command line that runs it again by hand."""
    env = environment(r.build, r.point, r.errno, r.prob, r.seed)
    how = f"probability {r.prob}" if r.prob else "onetime"
    steps = " ".join(DEVICES[r.case["device"]](r.case["limit"], len(expected_sent(r.case, r.data))))\
        if r.case["program"] == "morlink" and r.case["link"] != "serial" else ""
    names = ("FIU_PRNG_SEED",) if r.build == "release" else ("FIU_ENABLE", "FIU_PRNG_SEED", "FIU_CTRL_FIFO",
                                                                "LD_PRELOAD", "ASAN_OPTIONS", "LSAN_OPTIONS")
    fiu = " ".join(f"{k}={shlex.quote(env[k])}" for k in names if k in env)
    return (f"  point {r.point or 'none'} errno {r.errno} ({how}) seed {r.seed}, input {r.case['size']} bytes"
            f", device {r.case['device'] or '-'}"
            f" ({steps}), status {r.status} after {r.secs:.1f} s\n  {fiu} {shlex.join(preload(r.build, env) + r.argv)}")


def main():
    global BUILDS, ASAN_LIB
    BUILDS = {"release": os.path.abspath(sys.argv[1]), "asan": os.path.abspath(sys.argv[2])}
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else None
    seed = int(sys.argv[4]) if len(sys.argv) > 4 else (30 if seconds is None else random.randrange(1 << 30))
    ldd = subprocess.run(["ldd", BUILDS["asan"] + "/code/morlink"], capture_output=True, text=True).stdout
    ASAN_LIB = re.search(r"libasan\.so\S* => (\S+)", ldd).group(1)
    sys.stdout.reconfigure(line_buffering=True)
    print(f"faults: seed {seed}, {'the fixed list' if seconds is None else f'random cases for {seconds:.0f} s'}")
    table, passed, failed = {}, 0, 0
    # Most of a run is waiting for a time-out or the device: many run at once.
    workers = 6 if seconds is None else 32
    with ThreadPoolExecutor(max_workers=workers) as pool:
        for r in bounded(pool, jobs(seconds, seed), 2 * workers):
            row = table.setdefault((r.point or "none", path_of(r.case, r.build)), [0, 0, 0, 0])
            row[0] += 1
            if r.broken:
                row[3] += 1
                failed += 1
                for number, what in r.broken:
                    print(f"BROKEN rule {number} ({RULES[number]}): {what}")
                print(describe(r))
            else:
                passed += 1
                row[2 if r.clean else 1] += 1
    for (point, path), (runs, failing, clean, broken) in sorted(table.items()):
        print(f"{point:28} {path:28} {runs:5} runs, {failing:4} failed as they should, "
              f"{clean:4} ended as without failures, {broken} rules broken")
    print(f"Not injected: {NOT_INJECTED}; their paths have injected twins (a pipe input for the in-kernel copy).")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
