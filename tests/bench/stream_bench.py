#!/usr/bin/env python3
"""Sending and receiving speed of morlink beside netcat, socat and a plain
receiver, all on 127.0.0.1, in alternating runs; prints ratios of times
(morlink's time / the other's: below 1 is faster), with their minimum, median
and maximum, processor time per GiB of each program, and from one more run of
each under strace its system calls per MiB. (Peak memory is the load check's:
a program started from here inherits this process's peak in its own figure.)

The peers are never the bottleneck: the sink reads 1 MiB at a time with the
system's default receive buffer; the device of the receiving case writes its
answer in 1 MiB writes and is checked on its own to be faster than both
receivers; the plain receiver reads 1 MiB at a time into a file.

Usage: stream_bench.py BUILD_DIR [RUNS]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
BUILD = sys.argv[1]
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 5
MORLINK = os.path.join(BUILD, "code", "morlink")
SINK = os.path.join(BUILD, "tests", "bench", "bench_sink")
DEVICE = os.path.join(BUILD, "tests", "bench", "bench_device")
PLAIN_RECV = os.path.join(BUILD, "tests", "bench", "plain_recv")

# The goals: time ratios to the peer, and processor time to the best peer's.
GOAL_SEND_NC = 1.05
GOAL_UDP_SOCAT = 0.60
GOAL_RECEIVE_PLAIN = 1.10
GOAL_CPU_BEST_PEER = 1.10


def run_measured(argv, source=None, pipe=False, feed=None):
    """Runs a program to its end, its standard input the file source (or a
    pipe from cat of it, or the bytes feed through a pipe): (wall seconds,
    processor seconds of the program alone)."""
    start = time.monotonic()
    cat = None
    if pipe:
        cat = subprocess.Popen(["cat", source], stdout=subprocess.PIPE)
        stdin = cat.stdout
    elif feed is not None:
        stdin = subprocess.PIPE
    else:
        stdin = open(source, "rb") if source else subprocess.DEVNULL
    proc = subprocess.Popen(argv, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if cat:
        cat.stdout.close()
    elif feed is not None:
        proc.stdin.write(feed)
        proc.stdin.close()
    elif source:
        stdin.close()
    _, status, usage = os.wait4(proc.pid, 0)
    if cat:
        cat.wait()
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{argv} ended with {os.waitstatus_to_exitcode(status)}")
    return wall, usage.ru_utime + usage.ru_stime


def with_sink(kind, size, sender):
    """Starts a sink, runs sender(port), checks the count the sink got."""
    sink = subprocess.Popen([SINK, kind, str(size)], stdout=subprocess.PIPE, text=True)
    port = sink.stdout.readline().strip()
    result = sender(port)
    got = int(sink.stdout.readline())
    sink.wait()
    if kind == "tcp" and got != size:
        raise RuntimeError(f"the sink got {got} of {size} bytes")
    return result


def senders(path, port, udp=False):
    """The senders of one file: {name: (argv, from a pipe)}; the others take it
    as their standard input."""
    if udp:
        return {
            "morlink": ([MORLINK, "-s127.0.0.1", f"-p{port}", "-u", f"-i{path}"], False),
            "socat": (["socat", "-u", "-b1022", f"FILE:{path}", f"UDP-SENDTO:127.0.0.1:{port}"], False),
        }
    return {
        "morlink file": ([MORLINK, "-s127.0.0.1", f"-p{port}", f"-i{path}"], False),
        "nc file": (["nc", "-N", "127.0.0.1", port], False),
        "socat file": (["socat", "-u", f"FILE:{path}", f"TCP:127.0.0.1:{port}"], False),
        "morlink pipe": ([MORLINK, "-s127.0.0.1", f"-p{port}"], True),
        "nc pipe": (["nc", "-N", "127.0.0.1", port], True),
        "socat pipe": (["socat", "-u", "STDIN", f"TCP:127.0.0.1:{port}"], True),
    }


def send_once(path, size, udp, name, wrap=()):
    def sender(port):
        argv, pipe = senders(path, port, udp)[name]
        return run_measured([*wrap, *argv], path, pipe)

    return with_sink("udp" if udp else "tcp", size, sender)


def measure_senders(path, size, udp, runs):
    """Every sender once per round, rounds alternating: {name: [(wall, cpu)]}."""
    names = list(senders(path, "0", udp))
    results = {name: [] for name in names}
    for _ in range(runs):
        for name in names:
            results[name].append(send_once(path, size, udp, name))
    return results


def ratio_line(label, mine, theirs, goal=None):
    ratios = sorted(m[0] / t[0] for m, t in zip(mine, theirs))
    text = (f"  {label:<28} min {ratios[0]:.2f}  median {statistics.median(ratios):.2f}  "
            f"max {ratios[-1]:.2f}")
    if goal is not None:
        text += f"   (goal <= {goal:.2f}: {'met' if statistics.median(ratios) <= goal else 'NOT met'})"
    print(text)


def cpu_per_gib(runs, size):
    return statistics.median(r[1] for r in runs) * (1 << 30) / size


def cost_lines(results, size, mine, peers):
    """Time and processor time per GiB of each program; morlink's processor
    time beside the best peer's."""
    for name, runs in results.items():
        print(f"  {name:<14} median {statistics.median(r[0] for r in runs):.3f} s, "
              f"processor {cpu_per_gib(runs, size):.2f} s/GiB")
    best = min(peers, key=lambda p: cpu_per_gib(results[p], size))
    ratio = cpu_per_gib(results[mine], size) / cpu_per_gib(results[best], size)
    print(f"  processor time {mine}/{best} (the best peer): {ratio:.2f}   "
          f"(goal <= {GOAL_CPU_BEST_PEER:.2f}: {'met' if ratio <= GOAL_CPU_BEST_PEER else 'NOT met'})")


def traced(run, size, work):
    """System calls of one more run under strace -f -c: (per MiB, the three
    most frequent calls with theirs)."""
    report = os.path.join(work, "strace.txt")
    run(["strace", "-f", "-c", "-o", report])
    calls = {}
    with open(report) as f:
        for line in f:
            fields = line.split()
            # Rows: % time, seconds, usecs/call, calls, [errors,] name.
            if len(fields) >= 5 and fields[-1] != "total" and fields[3].isdigit():
                calls[fields[-1]] = int(fields[3])
    per_mib = size / MIB
    top = sorted(calls.items(), key=lambda c: -c[1])[:3]
    return sum(calls.values()) / per_mib, ", ".join(f"{n} {c / per_mib:.1f}" for n, c in top)


def syscall_lines(names, run_for, size, work):
    if not shutil.which("strace"):
        print("  (no strace: no system call counts)")
        return
    for name in names:
        total, top = traced(run_for(name), size, work)
        print(f"  system calls of {name:<14} {total:8.1f} per MiB ({top})")


def write_input(work, size):
    """Random input, written a MiB at a time so that this process stays small."""
    path = os.path.join(work, "input.bin")
    with open(path, "wb") as out:
        for _ in range(size // MIB):
            out.write(os.urandom(MIB))
    return path


def tcp_send(work):
    size = 256 * MIB
    path = write_input(work, size)
    r = measure_senders(path, size, False, RUNS)
    print(f"TCP send, 256 MiB on loopback, {RUNS} alternating rounds; ratio of times")
    ratio_line("morlink/nc, from a file", r["morlink file"], r["nc file"], GOAL_SEND_NC)
    ratio_line("morlink/socat, from a file", r["morlink file"], r["socat file"])
    ratio_line("morlink/nc, from a pipe", r["morlink pipe"], r["nc pipe"], GOAL_SEND_NC)
    ratio_line("morlink/socat, from a pipe", r["morlink pipe"], r["socat pipe"])
    file_runs = {n: v for n, v in r.items() if n.endswith("file")}
    pipe_runs = {n: v for n, v in r.items() if n.endswith("pipe")}
    cost_lines(file_runs, size, "morlink file", ["nc file", "socat file"])
    cost_lines(pipe_runs, size, "morlink pipe", ["nc pipe", "socat pipe"])
    syscall_lines(r, lambda name: lambda wrap: send_once(path, size, False, name, wrap), size, work)


def udp_send(work):
    size = 64 * MIB
    path = write_input(work, size)
    r = measure_senders(path, size, True, RUNS)
    print(f"UDP send, 64 MiB in 1022-byte datagrams, {RUNS} alternating rounds; ratio of times")
    ratio_line("morlink/socat -b1022", r["morlink"], r["socat"], GOAL_UDP_SOCAT)
    cost_lines(r, size, "morlink", ["socat"])
    syscall_lines(r, lambda name: lambda wrap: send_once(path, size, True, name, wrap), size, work)


def receive_once(name, size, out, wrap=()):
    """One receipt of the size answer from a fresh device: morlink, the plain
    receiver, or the device alone (the plain receiver dropping the bytes)."""
    device = subprocess.Popen([DEVICE, str(size)], stdout=subprocess.PIPE, text=True)
    port = device.stdout.readline().strip()
    answer = size + len(str(size)) + 6
    if name == "morlink":
        result = run_measured([*wrap, MORLINK, "-s127.0.0.1", f"-p{port}", "-r5", "-l", f"-o{out}"], feed=b"job")
    else:
        result = run_measured([*wrap, PLAIN_RECV, port, str(answer), out if name == "plain" else os.devnull])
    device.wait()
    if name == "morlink" and os.path.getsize(out) != size:
        raise RuntimeError("morlink wrote a wrong size")
    return result


def receive(work):
    size = 256 * MIB
    out = os.path.join(work, "out.bin")
    results = {"morlink": [], "plain": [], "device": []}
    for _ in range(RUNS):
        for name in results:
            results[name].append(receive_once(name, size, out))
    device = results.pop("device")
    print(f"Receive a 256 MiB size answer into a file, {RUNS} alternating rounds; ratio of times")
    ratio_line("morlink -r5 -l -o/plain", results["morlink"], results["plain"], GOAL_RECEIVE_PLAIN)
    cost_lines(results, size, "morlink", ["plain"])
    alone = statistics.median(r[0] for r in device)
    fastest = min(statistics.median(r[0] for r in runs) for runs in results.values())
    print(f"  the device alone (its answer read and dropped): median {alone:.3f} s, "
          f"{'faster' if alone < fastest else 'NOT faster'} than both receivers")
    syscall_lines(results, lambda name: lambda wrap: receive_once(name, size, out, wrap), size, work)
    os.unlink(out)


def main():
    with tempfile.TemporaryDirectory() as work:
        tcp_send(work)
        udp_send(work)
        receive(work)


if __name__ == "__main__":
    main()
