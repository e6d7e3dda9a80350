#!/usr/bin/env python3
"""Load checks on the release build: morlink streams 1 GiB to the simulated
device and 1 GiB of announced data back through its answer filter, and pakwrap
converts a 1 GiB image; none may lose a byte or let its memory grow.

Usage: load_check.py BUILD_DIR   (BUILD_DIR holds a release build of morlink,
pakwrap and simdevice). Prints the figures; exits 1 when a check fails."""
import os
import subprocess
import sys
import tempfile
import threading
import time
import zlib

GIB = 1 << 30
RSS_GOAL_KIB = 4096
failures = []


def check(ok, what):
    print(("  ok    " if ok else "  FAIL  ") + what)
    if not ok:
        failures.append(what)


def start_device(build, *steps):
    dev = subprocess.Popen([os.path.join(build, "tests/simdevice"), "-c", "-w", "300", *steps],
                           stdout=subprocess.PIPE, text=True)
    port = dev.stdout.readline().strip()
    return dev, port


def device_figures(dev):
    out, _ = dev.communicate(timeout=300)
    received = out.split("\n")[0].split()
    blobs = out.split("\n")[1].split()
    return int(received[1]), int(received[3], 16), int(blobs[2], 16)


class PeakMemory(threading.Thread):
    """Follows a running program's peak resident set (VmHWM, in KiB) until it
    ends. The kernel keeps the peak of the program's own image; the figure a
    parent gets from wait4 would include the memory of the forking parent."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.path, self.kib = f"/proc/{pid}/status", 0
        self.start()

    def run(self):
        while True:
            try:
                with open(self.path) as f:
                    for line in f:
                        if line.startswith("VmHWM:"):
                            self.kib = max(self.kib, int(line.split()[1]))
            except (OSError, ValueError):
                return
            time.sleep(0.02)


def wait_rss(proc, peak):
    """Waits for proc; returns its exit status and peak resident set in KiB."""
    status = proc.wait()
    peak.join()
    return status, peak.kib


def send_gib(build):
    print("morlink sends 1 GiB over TCP")
    dev, port = start_device(build)
    mor = subprocess.Popen([os.path.join(build, "code/morlink"), "-s127.0.0.1", "-p" + port],
                           stdin=subprocess.PIPE)
    peak = PeakMemory(mor.pid)
    block = bytearray(os.urandom(1 << 20))
    crc, t0 = 0, time.monotonic()
    for i in range(GIB >> 20):
        block[0:8] = i.to_bytes(8, "little")  # every block differs
        crc = zlib.crc32(block, crc)
        mor.stdin.write(block)
    mor.stdin.close()
    status, rss = wait_rss(mor, peak)
    seconds = time.monotonic() - t0
    count, dev_crc, _ = device_figures(dev)
    print(f"  {GIB / seconds / 1e6:.0f} MB/s, peak RSS {rss} KiB, device got {count} bytes")
    check(status == 0, "exit status 0")
    check(count == GIB and dev_crc == crc, "every byte arrived unchanged (count and CRC-32)")
    check(rss < RSS_GOAL_KIB, f"peak RSS under {RSS_GOAL_KIB} KiB")


def receive_gib(build):
    print("morlink receives a 1 GiB size answer through the answer filter")
    dev, port = start_device(build, "recv:3", f"send:\\x01AOK;{GIB}\\x17", f"blob:{GIB}")
    mor = subprocess.Popen([os.path.join(build, "code/morlink"), "-s127.0.0.1", "-p" + port, "-r5", "-l"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    peak = PeakMemory(mor.pid)
    mor.stdin.write(b"job")
    mor.stdin.close()
    crc, count, t0 = 0, 0, time.monotonic()
    while chunk := mor.stdout.read(1 << 20):
        crc = zlib.crc32(chunk, crc)
        count += len(chunk)
    status, rss = wait_rss(mor, peak)
    seconds = time.monotonic() - t0
    _, _, blob_crc = device_figures(dev)
    print(f"  {count / seconds / 1e6:.0f} MB/s, peak RSS {rss} KiB, {count} bytes written")
    check(status == 0, "exit status 0: the countdown ended the session")
    check(count == GIB and crc == blob_crc, "every announced byte written unchanged (count and CRC-32)")
    check(rss < RSS_GOAL_KIB, f"peak RSS under {RSS_GOAL_KIB} KiB")


def convert_gib(build, tmp):
    print("pakwrap converts a 1 GiB SH3 image")
    image, out = os.path.join(tmp, "image.sh3"), os.path.join(tmp, "image.out")
    with open(image, "wb") as f:
        f.write(b"SH3\0")
        f.truncate(GIB)  # the rest reads as zeros
    crc = 0
    zeros = bytes(1 << 20)
    for _ in range((GIB - 148) >> 20):
        crc = zlib.crc32(zeros, crc)
    crc = zlib.crc32(bytes((GIB - 148) & ((1 << 20) - 1)), crc)
    t0 = time.monotonic()
    pak = subprocess.Popen([os.path.join(build, "code/pakwrap/pakwrap"), image, out, "/s"], stdout=subprocess.DEVNULL)
    status, rss = wait_rss(pak, PeakMemory(pak.pid))
    seconds = time.monotonic() - t0
    with open(out, "rb") as f:
        head = f.read(8)
    print(f"  {seconds:.2f} s, peak RSS {rss} KiB")
    check(status == 0, "exit status 0")
    check(os.path.getsize(out) == GIB and head == b"SH3\0" + crc.to_bytes(4, "big"),
          "output of the input's size with the CRC-32 of the payload")
    check(rss < RSS_GOAL_KIB, f"peak RSS under {RSS_GOAL_KIB} KiB")


def main():
    build = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        send_gib(build)
        receive_gib(build)
        convert_gib(build, tmp)
    print(f"{3 * 3 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
