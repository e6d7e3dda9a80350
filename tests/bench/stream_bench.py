#!/usr/bin/env python3
"""Sending and receiving speed of morlink beside netcat, socat and a plain
receiver, all on 127.0.0.1, in alternating runs; prints ratios of times
(morlink's time / the other's: below 1 is faster), with their minimum, median
and maximum, and processor time per GiB and peak memory of each sender.

Usage: stream_bench.py BUILD_DIR [RUNS]
"""
import os
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
SIMDEVICE = os.path.join(BUILD, "tests", "simdevice")
PLAIN_RECV = os.path.join(BUILD, "tests", "bench", "plain_recv")


def run_measured(argv, stdin=None, shell=False):
    """Runs a command to its end: (wall seconds, processor seconds, peak KiB)."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, shell=shell)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError(f"{argv} ended with {proc.returncode}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


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


def sender_commands(path, port, udp=False):
    """The senders of one file, as shell commands: from the file and from a pipe."""
    if udp:
        return {
            "morlink": f"{MORLINK} -s127.0.0.1 -p{port} -u -i{path}",
            "socat": f"socat -u -b1022 FILE:{path} UDP-SENDTO:127.0.0.1:{port}",
        }
    return {
        "morlink file": f"{MORLINK} -s127.0.0.1 -p{port} -i{path}",
        "nc file": f"nc -N 127.0.0.1 {port} < {path}",
        "socat file": f"socat -u FILE:{path} TCP:127.0.0.1:{port}",
        "morlink pipe": f"cat {path} | {MORLINK} -s127.0.0.1 -p{port}",
        "nc pipe": f"cat {path} | nc -N 127.0.0.1 {port}",
        "socat pipe": f"cat {path} | socat -u STDIN TCP:127.0.0.1:{port}",
    }


def measure_senders(path, size, udp, runs):
    """Every sender once per round, rounds alternating: {name: [(wall, cpu, kib)]}."""
    names = list(sender_commands(path, 0, udp))
    results = {name: [] for name in names}
    for _ in range(runs):
        for name in names:
            measured = with_sink("udp" if udp else "tcp", size,
                                 lambda port: run_measured(sender_commands(path, port, udp)[name], shell=True))
            results[name].append(measured)
    return results


def ratio_line(label, mine, theirs, goal=None):
    ratios = sorted(m[0] / t[0] for m, t in zip(mine, theirs))
    text = (f"  {label:<28} min {ratios[0]:.2f}  median {statistics.median(ratios):.2f}  "
            f"max {ratios[-1]:.2f}")
    if goal is not None:
        text += f"   (goal <= {goal:.2f}: {'met' if statistics.median(ratios) <= goal else 'NOT met'})"
    print(text)


def cost_lines(results, size):
    for name, runs in results.items():
        cpu_per_gib = statistics.median(r[1] for r in runs) * (1 << 30) / size
        print(f"  {name:<14} median {statistics.median(r[0] for r in runs):.3f} s, "
              f"processor {cpu_per_gib:.2f} s/GiB, peak {max(r[2] for r in runs)} KiB")


def write_input(work, size):
    """Random input, written a MiB at a time so that this process stays small
    (the peak memory of a command counts the process it was started from)."""
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
    ratio_line("morlink/nc, from a file", r["morlink file"], r["nc file"], 0.85)
    ratio_line("morlink/socat, from a file", r["morlink file"], r["socat file"])
    ratio_line("morlink/nc, from a pipe", r["morlink pipe"], r["nc pipe"], 1.05)
    ratio_line("morlink/socat, from a pipe", r["morlink pipe"], r["socat pipe"])
    cost_lines(r, size)


def udp_send(work):
    size = 64 * MIB
    path = write_input(work, size)
    r = measure_senders(path, size, True, RUNS)
    print(f"UDP send, 64 MiB in 1022-byte datagrams, {RUNS} alternating rounds; ratio of times")
    ratio_line("morlink/socat -b1022", r["morlink"], r["socat"], 1.00)
    cost_lines(r, size)


def receive(work):
    size = 256 * MIB
    out = os.path.join(work, "out.bin")
    results = {"morlink": [], "plain": []}
    for _ in range(RUNS):
        for name in results:
            device = subprocess.Popen([SIMDEVICE, "-w", "120", "recv:3", f"send:\\x01AOK;{size}\\x17",
                                       f"blob:{size}"], stdout=subprocess.PIPE, text=True)
            port = device.stdout.readline().strip()
            if name == "morlink":
                cmd = f"printf job | {MORLINK} -s127.0.0.1 -p{port} -r5 -l -o{out}"
            else:
                cmd = f"{PLAIN_RECV} {port} {size + len(str(size)) + 6} {out}"
            results[name].append(run_measured(cmd, shell=True))
            device.wait()
            if name == "morlink" and os.path.getsize(out) != size:
                raise RuntimeError("morlink wrote a wrong size")
    print(f"Receive a 256 MiB size answer into a file, {RUNS} alternating rounds; ratio of times")
    ratio_line("morlink -r5 -l -o/plain", results["morlink"], results["plain"], 1.11)
    cost_lines(results, size)
    os.unlink(out)


def main():
    with tempfile.TemporaryDirectory() as work:
        tcp_send(work)
        udp_send(work)
        receive(work)


if __name__ == "__main__":
    main()
