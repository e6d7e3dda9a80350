#!/usr/bin/python3
"""1 MiB each way through ser2net to a pseudo-terminal: morlink's port server
link (-crfc2217://) against its plain TCP link on a raw accepter of the same
ser2net. Prints the median of a few runs of each and their ratio.

    rfc2217_bench.py MORLINK [RUNS]
"""
import os
import random
import select
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SIZE = 1024 * 1024


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(pid, port):
    """True once ser2net's own socket listens on port."""
    local = "0100007F:%04X" % port
    with open("/proc/net/tcp") as tcp:
        inodes = [f[9] for f in (line.split() for line in tcp) if f[1] == local and f[3] == "0A"]
    fds = "/proc/%d/fd" % pid
    try:
        links = [os.readlink(os.path.join(fds, fd)) for fd in os.listdir(fds)]
    except OSError:
        return False
    return any("socket:[%s]" % inode in links for inode in inodes)


def drain(fd, count, got):
    """Reads count bytes from fd; got is the time the last came and the
    count, which stops short when nothing comes for 10 s."""
    n = 0
    while n < count and select.select([fd], [], [], 10)[0]:
        n += len(os.read(fd, 65536))
    got[:] = [time.monotonic(), n]


def wait_released(pid, tty):
    """Waits until ser2net has let go of the terminal after a connection, so
    that the next one does not find its port busy."""
    fds = "/proc/%d/fd" % pid
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        links = []
        for fd in os.listdir(fds):
            try:
                links.append(os.readlink(os.path.join(fds, fd)))
            except OSError:
                pass
        if tty not in links:
            return
        time.sleep(0.01)
    sys.exit("ser2net keeps the terminal")


def send_run(morlink, link_args, master, data_path):
    """Timed until the device has all; then it answers, which ends morlink's
    run (ser2net drops what it still holds for the terminal when the client
    leaves)."""
    got = [0.0, 0]
    reader = threading.Thread(target=drain, args=(master, SIZE, got))
    reader.start()
    start = time.monotonic()
    proc = subprocess.Popen([morlink] + link_args + ["-l", "-r30", "-i" + data_path], stdout=subprocess.DEVNULL)
    reader.join()
    if got[1] != SIZE:
        sys.exit("%s: the device got %d bytes of %d" % (link_args, got[1], SIZE))
    os.write(master, b'\x01TD"ok"\x17')
    if proc.wait() != 0:
        sys.exit("%s: status %d" % (link_args, proc.returncode))
    return got[0] - start


def receive_run(morlink, link_args, master, data, out_path):
    """The device waits for one byte from morlink (it is connected), then
    writes 1 MiB; timed until morlink's output has all of it."""
    proc = subprocess.Popen([morlink] + link_args + ["-r2", "-o" + out_path], stdin=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    proc.stdin.write(b"g")
    proc.stdin.close()
    select.select([master], [], [])
    os.read(master, 16)
    start = time.monotonic()
    view = memoryview(data)
    while view:
        select.select([], [master], [])
        view = view[os.write(master, view[:65536]):]
    while os.path.getsize(out_path) < SIZE:
        time.sleep(0.001)
    elapsed = time.monotonic() - start
    proc.wait()
    return elapsed


def main():
    morlink = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    master, slave = os.openpty()
    tty = os.ttyname(slave)
    rng = random.Random(7)
    data = bytes(rng.getrandbits(8) for _ in range(SIZE))
    with tempfile.TemporaryDirectory() as tmp:
        data_path = os.path.join(tmp, "data")
        with open(data_path, "wb") as f:
            f.write(data)
        telnet_port, raw_port = free_port(), free_port()
        config = os.path.join(tmp, "ser2net.yaml")
        with open(config, "w") as f:
            f.write("%%YAML 1.1\n---\n"
                    "connection: &telnet\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n"
                    "  connector: serialdev,%s,115200n81,local\n"
                    "connection: &raw\n  accepter: tcp,127.0.0.1,%d\n"
                    "  connector: serialdev,%s,115200n81,local\n" % (telnet_port, tty, raw_port, tty))
        server = subprocess.Popen(["ser2net", "-n", "-d", "-u", "-c", config],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 20
            while not (listening(server.pid, telnet_port) and listening(server.pid, raw_port)):
                if time.monotonic() > deadline:
                    sys.exit("ser2net does not listen")
                time.sleep(0.01)
            links = {
                "tcp": ["-s127.0.0.1", "-p%d" % raw_port],
                "rfc2217": ["-s127.0.0.1", "-p1", "-crfc2217://127.0.0.1:%d" % telnet_port, "-b115200"],
            }
            out_path = os.path.join(tmp, "out")
            result = {}
            for name, args in links.items():
                sends, receives = [], []
                for _ in range(runs):
                    wait_released(server.pid, tty)
                    sends.append(send_run(morlink, args, master, data_path))
                    wait_released(server.pid, tty)
                    receives.append(receive_run(morlink, args, master, data, out_path))
                print(name, "send", " ".join("%.3f" % t for t in sends), "receive",
                      " ".join("%.3f" % t for t in receives))
                result[name] = (statistics.median(sends), statistics.median(receives))
                print("%-8s send 1 MiB %.3f s, receive 1 MiB %.3f s (medians of %d)"
                      % (name, result[name][0], result[name][1], runs))
            for i, way in enumerate(("send", "receive")):
                print("%s: rfc2217 / tcp = %.2f" % (way, result["rfc2217"][i] / result["tcp"][i]))
        finally:
            server.terminate()
            try:
                server.wait(5)
            except subprocess.TimeoutExpired:
                server.kill()


if __name__ == "__main__":
    main()
