#!/usr/bin/env python3
"""Failed system calls in every combination: starts morlink and pakwrap many
times, several at once, against the simulated device and pseudo-terminals,
with libfiu failing one of their POSIX calls, and holds every run to RULES.

Usage: faults.py RELEASE_BUILD ASAN_BUILD [SECONDS [SEED]]
Without SECONDS the fixed list (each failure point on its first call on each
program path, fixed seeds); with SECONDS random cases for that long."""
import errno as E
import fcntl
import json
import os
import random
import re
import select
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
    "posix/io/rw/write": [E.EIO, E.ENOSPC, E.EPIPE, E.EINTR], "posix/io/rw/write/reduce": [0],
    "posix/io/rw/read": [E.EIO, E.EINTR], "posix/io/rw/read/reduce": [0],
    "posix/io/oc/open": [E.ENOENT, E.EACCES, E.EMFILE, E.EINTR], "posix/stdio/oc/fopen": [E.ENOENT, E.EACCES, E.EMFILE],
    "posix/io/oc/close": [E.EIO, E.EINTR],
}
NET_POINTS = {
    "posix/io/net/send": [E.ECONNRESET, E.ENOBUFS, E.EPIPE, E.EINTR], "posix/io/net/recv": [E.ECONNRESET, E.ETIMEDOUT, E.EINTR],
    "posix/io/net/sendto": [E.ENOBUFS, E.ECONNREFUSED, E.EINTR], "posix/io/net/recvfrom": [E.ECONNREFUSED, E.EINTR],
    "posix/io/net/poll": [E.EINTR, E.ENOMEM], "posix/io/net/connect": [E.ECONNREFUSED, E.ETIMEDOUT, E.ENETUNREACH, E.EINTR],
    "posix/io/net/socket": [E.EMFILE, E.ENOBUFS, E.EACCES], "posix/io/net/shutdown": [E.ENOTCONN, E.ENOBUFS],
}
POINTS = {None: [0], **FILE_POINTS, **NET_POINTS}
NOT_INJECTED = ("short sends (no reduce point for send), stdio's own writes, getsockopt, fcntl, fstat, flock, "
                "the terminal calls, ioctl, sendfile, splice, copy_file_range, getaddrinfo")
MESSAGES = {"Timeout", "serial error", "error during receiving", "error during sending", "error during TCP/IP connect",
            "error during host name resolution", "common network error", "programm error (i.e. false argument)"}
TEXTS = MESSAGES | {os.strerror(i) for i in range(1, 134)}
PAK_MESSAGES = ("Failed to open file", "Wrong bin file!", "Problem writing file", "Failed to read", "Failed to write")
TRACE_HEAD = re.compile(r"^\d+\.\d{6} (send|recv) (\d+)$")
TRACE_DATA = re.compile(r"^([0-9a-f]{8})  ([0-9a-f ]{50})\|[\x20-\x7e]{1,16}\|$")
OTHER_LINES = re.compile(r"^(|\d+ bytes sent in \d+\.\d s \(\d+\.\d KiB/s\)|the result record cannot be written: .*"
                         r"|\.+|.*, Line \d+: -?\d+, -?\d+:|IP Address: .*|Send File: .*|\x01M.*\x17)$")
SANITIZER = re.compile(r"(AddressSanitizer|LeakSanitizer|runtime error:).*")
HERE = os.path.dirname(os.path.abspath(__file__))
SOH, ETB = "\\x01", "\\x17"
# The device's behaviours as simulated device steps, for a time limit of L s
# and N bytes that morlink is to send.
DEVICES = {
    "takes all": lambda L, N: [], "closes early": lambda L, N: ["recv:100", "close"],
    "resets": lambda L, N: ["recv:3000", "reset"], "never reads": lambda L, N: ["stall"],
    "reads slowly": lambda L, N: ["trickle:65536"],
    "answers before": lambda L, N: [f'send:{SOH}TD"hello"{ETB}', "send:pre", f"send:{SOH}AA0001{ETB}"],
    "answers during": lambda L, N: ["recv:500", f'send:{SOH}TD"du', "sleep:30", f'send:ring"{ETB}x'],
    "answers after": lambda L, N: ["quiet:300", f"send:{SOH}AOK;64{ETB}", "blob:64", f'send:{SOH}TD"unfin'],
    "never closes": lambda L, N: [f"recv:{N}", f"hold:{L * 1000}"],
}
# Without -e only a device that answers nothing is sure to get every byte:
# an answer left unread makes morlink's close a reset.
READERS = {"takes all", "reads slowly", "never closes"}
SERIAL_DEVICES = ["takes all", "answers before", "answers after", "reads slowly", "never reads"]
PAK_MODES = [["/s"], ["/s:8000"], ["/a"], ["/l"], ["/f"], ["/s", "/SH3:1:-2:3:text"], ["/m=C:/FW/A.IMG"],
             ["/r", "/m=C:/FW/B.IMG"], ["/v"]]
LINKS = ["tcp-file", "tcp-pipe", "udp", "serial"]


class Run:
    """One program run: its case, failure point and ending, and the rules it broke."""

    def __init__(self, **kw):
        self.__dict__.update(kw, broken=[])

    def rule(self, number, ok, what):
        if not ok and len(self.broken) < 4:
            self.broken.append((number, what))


def safe(argv):
    """A morlink command line reaches only the simulated device or a pseudo-terminal."""
    net = "-s127.0.0.1" in argv and any(re.fullmatch(r"-p\d+", a) for a in argv)
    return "morlink" not in os.path.basename(argv[0]) or net or any(a.startswith("-c/dev/pts/") for a in argv)


def environment(build, point, errno, prob, seed):
    env = dict(os.environ, LC_ALL="C", LANGUAGE="", FIU_ENABLE="", FIU_PRNG_SEED=str(seed))
    if point:
        what = f"name={point},failinfo={errno}"
        env["FIU_ENABLE"] = f"enable_random {what},probability={prob}" if prob else f"enable {what},onetime"
    if build == "asan":  # libasan first; no control FIFO, which a program ended by _exit leaves behind
        env.update(FIU_CTRL_FIFO="", LD_PRELOAD=f"{ASAN_LIB} /usr/lib/fiu/fiu_run_preload.so "
                   "/usr/lib/fiu/fiu_posix_preload.so", ASAN_OPTIONS="detect_leaks=1",
                   LSAN_OPTIONS=f"suppressions={HERE}/lsan.supp:print_suppressions=0")
    return env


def preload(build, env):
    """fiu-run for the release build: it sets the enable variable from its -c command."""
    fiu = ["fiu-run", "-x", "-f", ""] + (["-c", env["FIU_ENABLE"]] if env["FIU_ENABLE"] else [])
    return fiu if build == "release" else []


def reader(stream, out, slow):
    while chunk := stream.read1(1000 if slow else 65536):
        out += chunk
        time.sleep(0.002 if slow else 0)


def feed(pipe, data):
    try:
        for i in range(0, len(data), 65536):
            pipe.write(data[i:i + 65536])
        pipe.close()
    except OSError:
        pass


def launch(r, stdin_data, bound, forever, cwd):
    """Runs r.argv with its failure point, feeding and reading it; fills in its ending."""
    if not safe(r.argv):
        raise SystemExit("refused to start a command line without the simulated device: " + " ".join(r.argv))
    env = environment(r.build, r.point, r.errno, r.prob, r.seed)
    t0, r.late = time.monotonic(), ""
    proc = subprocess.Popen(preload(r.build, env) + r.argv, env=env, cwd=cwd, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, stdin=subprocess.DEVNULL if stdin_data is None else subprocess.PIPE)
    out, err = bytearray(), bytearray()
    threads = [threading.Thread(target=reader, args=(proc.stdout, out, r.case["slow"])),
               threading.Thread(target=reader, args=(proc.stderr, err, r.case["slow"]))]
    threads += [threading.Thread(target=feed, args=(proc.stdin, stdin_data))] if stdin_data is not None else []
    for t in threads:
        t.start()
    try:
        proc.wait(timeout=bound)
    except subprocess.TimeoutExpired:
        r.late = "" if forever else f"still running after {bound:.0f} s"
        proc.terminate()
        try:
            proc.wait(timeout=3)
        except subprocess.TimeoutExpired:
            r.late = "did not end at once after SIGTERM"
            proc.kill()
            proc.wait()
    for t in threads:
        t.join()
    r.status, r.out, r.err, r.secs = proc.returncode, bytes(out), bytes(err), time.monotonic() - t0


def pty_device(master, behaviour, got, stop):
    """The device on a pseudo-terminal's master side."""
    answered, last = behaviour != "answers before", time.monotonic()
    if not answered:
        os.write(master, b'\x01TD"hello"\x17pre\x01AA0001\x17')
    while True:  # once stopped, reads what morlink left in the terminal
        ready = behaviour != "never reads" and select.select([master], [], [], 0.05)[0]
        if stop.is_set() and not ready:
            return
        if not ready:
            time.sleep(0.05 if behaviour == "never reads" else 0)
        else:
            try:
                got += os.read(master, 4096 if behaviour == "reads slowly" else 65536)
                last = time.monotonic()
            except OSError:
                if stop.is_set():
                    return
            time.sleep(0.01 if behaviour == "reads slowly" else 0)
        if behaviour == "answers after" and not answered and got and time.monotonic() - last > 0.3:
            os.write(master, b'\x01AOK;8\x17ABCDEFGH\x01TD"unfin')
            answered = True


def port_free(slave):
    buf = bytearray(4)
    fcntl.ioctl(slave, 0x80045440, buf)  # TIOCGEXCL
    return int.from_bytes(buf, sys.byteorder) == 0


def read(path):
    """A file's bytes (None when missing); the file is removed."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None
    finally:
        if os.path.exists(path):
            os.unlink(path)


def morlink_case(rng, quick, link=None):
    """Draws a morlink combination (over the link given)."""
    link = link or rng.choice(LINKS)
    return dict(program="morlink", link=link, device=rng.choice(SERIAL_DEVICES if link == "serial" else list(DEVICES)),
                size=rng.choice([0, 1, 100, 1022, 5000, 70000] + ([] if quick or link == "serial" else [1 << 20, 3 << 20])),
                receive=rng.choice(["", "", "-r", "-r1", "-r2", "-rs1", "-rt1", "-r*1"]), filter=rng.random() < 0.4,
                mode=rng.choice(["", "-m0", "-m1"]), console=rng.random() < 0.1, confirm=rng.random() < 0.3,
                memcard=link != "tcp-pipe" and rng.random() < 0.15, trace=rng.choice(["", "", "file", "stderr"]),
                record=rng.choice(["", "file", "stderr"]), progress=rng.random() < 0.15, debug=rng.random() < 0.05,
                output=rng.random() < 0.3, slow=rng.random() < 0.3, wait=rng.choice([1, 2]),
                # the device never sees the end of a UDP job: it stops taking datagrams after 2 s
                limit=2 if link == "udp" else 3 if quick or rng.random() < 0.8 else 10)


def expected_sent(c, data):
    frames = b""
    if c["console"]:
        for cmd in ("RCRA--r1" if c["link"] == "serial" else "RCRA--r2", "RCRB--r1", "TK", "TD"):
            frames += b"\x01" + cmd.encode() + b"\x17"
    if c["memcard"]:
        frames += b"\x01MC:/FW/JOB.PRN*%d\x17" % (0 if c["link"] == "tcp-pipe" else len(data))
    return frames + data


def run_morlink(r, tmp):
    c = r.case
    inp, serial, udp = tmp + "/job.prn", c["link"] == "serial", c["link"] == "udp"
    with open(inp, "wb") as f:
        f.write(r.data)
    r.argv = [BUILDS[r.build] + "/code/morlink"]
    if serial:
        master, slave = os.openpty()
        tty.setraw(slave)  # no echo of the answers written before morlink sets the port up
        r.argv.append("-c" + os.ttyname(slave))
        got, stop = bytearray(), threading.Event()
        device = threading.Thread(target=pty_device, args=(master, c["device"], got, stop))
        device.start()
    else:
        steps = DEVICES[c["device"]](c["limit"], len(expected_sent(c, r.data)))
        dev = subprocess.Popen([BUILDS["release"] + "/tests/simdevice", "-w", str(c["limit"]), "-o", tmp + "/device",
                                *(["-u"] if udp else []), *steps], stdout=subprocess.PIPE, text=True)
        r.argv += ["-s127.0.0.1", "-p" + dev.stdout.readline().strip()] + (["-u"] if udp else [])
    files = {"": "", "file": tmp + "/", "stderr": ""}
    opts = ["" if c["link"] == "tcp-pipe" else "-i" + inp, c["receive"], "-l" * c["filter"], c["mode"],
            "-t" * c["console"], f"-e{c['wait']}" * c["confirm"], "-aC:/FW/JOB.PRN" * c["memcard"],
            c["trace"] and "-f" + files[c["trace"]] + "trace" * (c["trace"] == "file"),
            c["record"] and "-j" + files[c["record"]] + "record" * (c["record"] == "file"),
            "-g" * c["progress"], "-d" * c["debug"], ("-o" + tmp + "/out") * c["output"]]
    r.argv += [o for o in opts if o]
    # Waiting for ever by design: receiving without a time limit where no close
    # can come, and a serial send to a device that never reads.
    forever = (c["receive"] == "-r" and c["link"] in ("udp", "serial")) or (serial and c["device"] == "never reads")
    bound = 3 if forever else c["limit"] + 3 + c["wait"] * c["confirm"] + 5 * c["debug"] + bool(c["receive"]) + \
        c["size"] / 300000 + c["size"] / 100000 * (c["slow"] and c["trace"] == "stderr")  # 4.5 trace bytes a byte
    launch(r, r.data if c["link"] == "tcp-pipe" else None, bound, forever, tmp)
    r.free = True
    if serial:
        time.sleep(0.1)
        stop.set()
        device.join()
        r.received, r.free = bytes(got), port_free(slave)
        os.close(slave)
        os.close(master)
    else:
        try:
            dev.wait(timeout=c["limit"] + 2 if r.status == 0 else 0.5)
        except subprocess.TimeoutExpired:
            dev.terminate()
            dev.wait()
        r.received = read(tmp + "/device")
    r.input_kept, r.trace, r.record = read(inp) == r.data, read(tmp + "/trace"), read(tmp + "/record")
    r.output = read(tmp + "/out") if c["output"] else r.out
    check_morlink(r)
    r.clean = r.status == 0


def parse_trace(lines):
    """The trace entries among lines: (entries [(kind, bytes)], the other lines, faults)."""
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


def check_morlink(r):
    """The one checker of morlink's rules."""
    c, status, text = r.case, r.status, r.err.decode("latin-1")
    sanitizer = SANITIZER.search(text)
    r.rule(3, not sanitizer, f"sanitizer: {sanitizer and sanitizer.group(0)}")
    r.rule(3, status >= 0 or (status == -15 and not r.late), f"ended by signal {-status}")
    r.rule(3, not r.late, r.late)
    r.rule(3, r.free, "the serial port is still held (TIOCGEXCL)")
    if status < 0 or sanitizer:
        return
    lines = text.split("\n")
    # Where writes fail, standard error's own may fail too: a message, a record
    # or the rest of a line written there may be lost.
    lossy = r.point == "posix/io/rw/write" and r.errno != E.EINTR
    # Debug dots of the last blocks are the one line that may stay open.
    r.rule(4, lossy or re.fullmatch(r"\.*", lines[-1]), f"standard error ends inside a line: {lines[-1][-80:]!r}")
    entries, other, faults = parse_trace(lines[:-1])
    for f in faults:
        r.rule(4, lossy, f)
    record = None
    for line in other:
        try:
            record = json.loads(line) if line.startswith("{") else record
            if line.startswith("{"):
                continue
        except ValueError:
            pass
        r.rule(4, lossy or line in TEXTS or OTHER_LINES.match(line), f"standard error line that is no message: {line[:100]!r}")
    if c["trace"] == "file" and r.trace is not None:
        entries, _, faults = parse_trace(r.trace.decode("latin-1").split("\n")[:-1])
        for f in faults:
            r.rule(4, False, "trace file: " + f)
    if c["record"] == "file" and r.record:
        try:
            record = json.loads(r.record.decode().splitlines()[-1])
        except ValueError:
            r.rule(2, False, f"record file does not parse: {r.record[-200:]!r}")
    if c["record"]:
        r.rule(2, lossy or "the result record cannot be written" in text or (record or {}).get("status") == status,
               f"record {record} for status {status}")
    r.rule(2, r.input_kept, "the input file changed")
    if status != 0:
        r.rule(2, lossy or any(line in TEXTS for line in other), "no message for the status")
    sent = b"".join(d for k, d in entries if k == "send")
    recv = b"".join(d for k, d in entries if k == "recv")
    tcp = c["link"].startswith("tcp")
    zeros = sum(1 for k, d in entries if k == "recv" and not d)
    r.rule(4, zeros <= 1 or not tcp, f"{zeros} recv 0 entries for one connection")
    if record and c["link"] == "udp" and c["confirm"]:
        r.rule(1, record.get("confirmed") is None, f"confirmed {record.get('confirmed')} over UDP")
    # A device that reaches its time limit closes with the rest unread.
    in_time = r.secs < c["limit"] and (c["device"] != "reads slowly" or c["size"] <= c["limit"] * 500000)
    if status == 0:
        want, got = expected_sent(c, r.data), r.received or b""
        if c["receive"].startswith("-r*") and got.rstrip(b" ").startswith(want):
            got = got.rstrip(b" ")  # the keep-alive spaces
        ends = c["filter"] and "answers" in c["device"]  # an answer that ends the session before the input
        if c["link"] == "udp":
            r.rule(1, subsequence(got, want), f"device got {len(got)} bytes that were not sent in order")
        elif (c["device"] in READERS and in_time) or (c["confirm"] and tcp) or \
                (c["link"] == "serial" and c["device"] != "never reads"):
            first = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
            r.rule(1, got == want or (ends and want.startswith(got)),
                   f"device got {len(got)} bytes of {len(want)} (first difference at {first})")
        if record and c["trace"]:
            # Counts are taken as each call returns, entries written after it:
            # a run that the other thread ends (an ending answer, -rs) may leave
            # one call's entries of at most a block (256 KiB) unwritten.
            cut = ends or c["receive"].startswith("-rs")
            lag = [record["sent"] + record["frames"] - len(sent), record["received"] - len(recv)]
            r.rule(1, all(x == 0 or (cut and 0 < x <= 1 << 18) for x in lag),
                   f"record sent {record['sent']}+{record['frames']} received {record['received']}, "
                   f"trace sent {len(sent)} received {len(recv)}")
    if c["trace"] and c["receive"] and status in (0, 1) and r.output is not None:
        out = r.output
        if not c["filter"]:
            r.rule(4, recv.startswith(out) if c["receive"].startswith("-rs") else out == recv,
                   f"output of {len(out)} bytes, trace shows {len(recv)} received")
        else:
            r.rule(4, subsequence(out.replace(b"\n", b""), recv), "filtered output not taken from the received bytes")
        if c["filter"] and c["receive"].startswith("-rs") and c["confirm"]:
            r.rule(4, b"unfin" not in out and (b"du" not in out or b"during" in out), "-rs -e wrote a held answer")


PAK_CACHE = {}


def pakwrap_reference(mode, size, seed):
    """The input of a pakwrap case, and the status and output of a run without failures
    (for /v: an image that /s made), with whether that output passes /v."""
    key = (tuple(mode), size, seed)
    if key not in PAK_CACHE:
        rng = random.Random(seed)
        head = rng.choice([b"SH3\0", b"ATM\0", b"SLC\0", b"\x01\x71\0\0\x00\x01\0\0", b"XYZ\0"])
        data = (head + rng.randbytes(max(size - len(head), 0)))[:max(size, 1)]
        if mode[0] == "/v":
            data = pakwrap_reference(["/s"], size, seed)[2] or data
        pakwrap = BUILDS["release"] + "/code/pakwrap/pakwrap"
        with tempfile.TemporaryDirectory() as tmp:
            with open(tmp + "/in", "wb") as f:
                f.write(data)
            status = subprocess.run([pakwrap, "in", *(["/v"] if mode[0] == "/v" else ["out", *mode])], cwd=tmp,
                                    capture_output=True).returncode
            verified = mode[0] == "/v" or status != 0 or subprocess.run(
                [pakwrap, "out", "/v"], cwd=tmp, capture_output=True).returncode in (0, 1)
            PAK_CACHE[key] = (data, status, read(tmp + "/out"), verified)
    return PAK_CACHE[key]


def run_pakwrap(r, tmp):
    c, verify = r.case, r.case["mode"][0] == "/v"
    r.data, ref_status, ref_out, verified = pakwrap_reference(c["mode"], c["size"], c["seed"])
    with open(tmp + "/in", "wb") as f:
        f.write(r.data)
    with tempfile.TemporaryDirectory(dir="/dev/shm" if c["link"] else None) as outdir:
        # On another file system the in-kernel copy fails, and pakwrap copies itself.
        r.argv = [BUILDS[r.build] + "/code/pakwrap/pakwrap", "in"] + (["/v"] if verify else [outdir + "/out", *c["mode"]])
        launch(r, None, 30, False, tmp)
        written, status = read(outdir + "/out"), r.status
    sanitizer = SANITIZER.search((r.out + r.err).decode("latin-1"))
    r.rule(3, not sanitizer and status >= 0 and not r.late,
           f"crash, sanitizer or time-out: {r.late} {status} {sanitizer and sanitizer.group(0)}")
    r.rule(2, read(tmp + "/in") == r.data, "the input file changed")
    if status == 0:
        r.rule(1, ref_status == 0 and (verify or (written == ref_out and verified)),
               f"status 0 with an output that differs from a run without failures (reference status {ref_status})")
    elif status != ref_status:
        r.rule(2, any(line.startswith(PAK_MESSAGES) for line in r.out.decode("latin-1").split("\n")),
               f"status {status} without its message: {r.out[-200:]!r}")
    r.rule(4, r.err == b"", f"pakwrap wrote to standard error: {r.err[:200]!r}")
    if r.point and r.errno in (0, E.EINTR):
        r.rule(5, status == ref_status and (status != 0 or verify or written == ref_out),
               f"status {status} where a run without failures gives {ref_status}")
    r.clean = status == ref_status


def pakwrap_case(rng, quick):
    return dict(program="pakwrap", link="other fs" * (rng.random() < 0.5 and os.path.isdir("/dev/shm")), device="",
                mode=rng.choice(PAK_MODES), seed=rng.randrange(1 << 30),
                size=rng.choice([1, 4, 200, 5000, 70000] + ([] if quick else [1 << 20, 3 << 20])),
                slow=rng.random() < 0.3)


def execute(job, twin=False):
    """One job; a retried failure that changed the ending is run again as its twin without failures."""
    c, build, point, errno, prob, seed = job
    r = Run(case=c, build=build, point=point, errno=errno, prob=prob, seed=seed,
            data=random.Random(seed).randbytes(c["size"]) if c["program"] == "morlink" else b"")
    with tempfile.TemporaryDirectory() as tmp:
        (run_pakwrap if c["program"] == "pakwrap" else run_morlink)(r, tmp)
    if c["program"] == "morlink" and (errno == E.EINTR or (point or "").endswith("reduce")) and \
            c["device"] in ("takes all", "answers before") and r.status != 0 and not r.broken and not twin:
        other = execute((c, build, None, 0, 0, seed), True)
        r.rule(5, other.status != 0, f"status {r.status} where the same run without failures gives 0")
    return r


def jobs(seconds, seed):
    """The fixed list, or a random stream of jobs for `seconds`."""
    rng = random.Random(seed)
    if seconds is None:
        for build in ("release", "asan"):
            for link in LINKS:
                for point, errnos in POINTS.items():
                    for errno in errnos[:1] + ([E.EINTR] if E.EINTR in errnos[1:] else []):
                        c = morlink_case(rng, True, link)
                        if errno == E.EINTR or (point or "").endswith("reduce"):
                            c["device"] = rng.choice(["takes all", "answers before"])  # with a twin to compare
                        yield c, build, point, errno, 0, rng.randrange(1 << 30)
            for point, errnos in {None: [0], **FILE_POINTS}.items():
                for errno in errnos:
                    yield pakwrap_case(rng, True), build, point, errno, 0, rng.randrange(1 << 30)
        return
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        c = pakwrap_case(rng, False) if rng.random() < 0.2 else morlink_case(rng, False)
        point = rng.choice([p for p in POINTS if c["program"] == "morlink" or p not in NET_POINTS])
        errno = rng.choice(POINTS[point])
        # A call that a signal interrupts every time is no state a system reaches.
        prob = rng.choice([0, 0.02, 0.1, 0.3] + [1.0] * (errno != E.EINTR)) if point else 0
        yield c, rng.choice(["release", "asan"]), point, errno, prob, rng.randrange(1 << 30)


def bounded(pool, stream, most):
    """The jobs' results in order, with a few started ahead: the random stream
    is drawn only while time is left."""
    ahead = []
    for job in stream:
        ahead.append(pool.submit(execute, job))
        if len(ahead) >= most:
            yield ahead.pop(0).result()
    for future in ahead:
        yield future.result()


def describe(r):
    """The run's failure point and case, and a command line that runs it again by hand."""
    env, c = environment(r.build, r.point, r.errno, r.prob, r.seed), r.case
    names = ["FIU_PRNG_SEED"] + ["FIU_ENABLE", "FIU_CTRL_FIFO", "LD_PRELOAD", "ASAN_OPTIONS", "LSAN_OPTIONS"] * (
        r.build == "asan")
    steps = " ".join(DEVICES[c["device"]](c["limit"], len(expected_sent(c, r.data)))) if c["link"] in (
        "tcp-file", "tcp-pipe", "udp") else ""
    return (f"  point {r.point or 'none'} errno {r.errno} ({f'probability {r.prob}' if r.prob else 'onetime'}) "
            f"seed {r.seed}, input {c['size']} bytes, device {c['device'] or '-'} ({steps}), status {r.status} "
            f"after {r.secs:.1f} s\n  " + " ".join(f"{k}={shlex.quote(env[k])}" for k in names) + " " +
            shlex.join(preload(r.build, env) + r.argv))


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
    workers = 6 if seconds is None else 40  # a run mostly waits for a time-out or the device
    with ThreadPoolExecutor(max_workers=workers) as pool:
        for r in bounded(pool, jobs(seconds, seed), 2 * workers):
            path = f"{r.case['program']}/{r.build} {r.case['link']}"
            row = table.setdefault((r.point or "none", path), [0, 0, 0, 0])
            row[0] += 1
            row[3 if r.broken else 2 if r.clean else 1] += 1
            passed, failed = passed + (not r.broken), failed + bool(r.broken)
            for number, what in r.broken:
                print(f"BROKEN rule {number} ({RULES[number]}): {what}")
            if r.broken:
                print(describe(r))
    for (point, path), (runs, failing, clean, broken) in sorted(table.items()):
        print(f"{point:26} {path:26} {runs:5} runs, {failing:4} failed as they should, "
              f"{clean:4} ended as without failures, {broken} rules broken")
    print(f"Not injected: {NOT_INJECTED}; the paths that use them have injected twins (sendfile and splice: "
          "a pipe as input; copy_file_range: pakwrap's output on another file system).")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
