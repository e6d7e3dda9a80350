#!/usr/bin/env python3
"""Checks of a Windows release zip under Wine, used as a user would use it.

Unzips the zip into a new folder whose path holds a blank and checks what it
holds; runs the programs from that folder: morlink.exe's usage in English and
in German, pakwrap.exe's help text, a file sent to the simulated device on
127.0.0.1, an image made by pakwrap.exe and checked with /v; checks that the
HTML manual pages name every option that the option parsers know. Removes
the folder at the end. Prints one PASS or FAIL line per check and exits
non-zero when a check fails. Wine must be started in the prefix that
WINEPREFIX names (tools/windows-test does that).
"""

import argparse
import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
import zlib

sys.dont_write_bytecode = True  # no __pycache__ in the source tree for the import below
from windows_e2e import Checks, Device, noise, text  # noqa: E402


class Folder:
    """The unzipped folder, and the programs run from it as a user would."""

    def __init__(self, wine, simdevice, path):
        self.wine = wine
        self.simdevice = simdevice
        self.work = path

    def run(self, argv, extra_env=None):
        """Runs a program of the folder from the folder: (status, output text)."""
        env = dict(os.environ, WINEDEBUG="-all", LANG="C.UTF-8")
        for name in ("LANGUAGE", "LC_ALL", "LC_MESSAGES"):
            env.pop(name, None)
        env.update(extra_env or {})
        if argv[0] == "morlink.exe":
            assert "-s127.0.0.1" in argv, argv
        r = subprocess.run([self.wine] + argv, capture_output=True, cwd=self.work, env=env, timeout=60)
        return r.returncode, text(r.stdout) + text(r.stderr)

    def write(self, name, data):
        with open(os.path.join(self.work, name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(os.path.join(self.work, name), "rb") as f:
            return f.read()


def contents(c, zip_path, into, top):
    with zipfile.ZipFile(zip_path) as z:
        names = {n for n in z.namelist() if not n.endswith("/")}
        z.extractall(into)
    want = {f"{top}/{n}" for n in ("morlink.exe", "pakwrap.exe", "de/LC_MESSAGES/morlink.mo", "README.txt",
                                   "LICENSE.txt", "morlink.html", "pakwrap.html")}
    c.equal("zip: one folder with the programs, the catalogue, the texts and the pages", sorted(names),
            sorted(want))


def windows_line_ends(data):
    return data.count(b"\r\n") > 0 and data.count(b"\n") == data.count(b"\r\n") == data.count(b"\r")


def texts(c, folder, source):
    for name in ("README.txt", "LICENSE.txt"):
        c.check(f"zip: {name} with Windows line ends", windows_line_ends(folder.read(name)))
    with open(os.path.join(source, "LICENSE"), "rb") as f:
        licence = f.read()
    c.equal("zip: LICENSE.txt is the licence", folder.read("LICENSE.txt"), licence.replace(b"\n", b"\r\n"))


def programs(c, folder):
    status, out = folder.run(["morlink.exe", "-s127.0.0.1", "-?"])
    c.check("morlink.exe -s127.0.0.1 -?: the usage text",
            status == 0 and out.startswith("morlink (Windows-Version) 0.13\n") and "Network Options:" in out,
            f"status {status}: {out[:200]!r}")
    status, out = folder.run(["morlink.exe", "-s127.0.0.1", "-?"], {"LANGUAGE": "de"})
    c.check("morlink.exe -s127.0.0.1 -? with LANGUAGE=de: the German usage text",
            status == 0 and "Netzwerk-Optionen:" in out and "Network Options:" not in out,
            f"status {status}: {out[:200]!r}")
    status, out = folder.run(["pakwrap.exe"])
    c.check("pakwrap.exe: the help text, status 2", status == 2 and out.startswith("pakwrap V1.1"),
            f"status {status}: {out[:200]!r}")

    job = b"JOB 1\r\n\x1a\x00" + noise(5000, 25)
    folder.write("job.prn", job)
    dev = Device(folder, [])
    status, out = folder.run(["morlink.exe", "-s127.0.0.1", dev.arg(), "-ijob.prn"])
    c.equal("morlink.exe sends a file to the device on 127.0.0.1", (status, dev.received()), (0, job))

    payload = noise(40000, 26)
    folder.write("app.bin", b"SH3" + bytes(145) + payload)
    status, out = folder.run(["pakwrap.exe", "app.bin", "app.img", "/s:8000"])
    c.equal("pakwrap.exe makes an image", status, 0)
    crc = zlib.crc32(payload)
    status, out = folder.run(["pakwrap.exe", "app.img", "/v"])
    c.check("pakwrap.exe app.img /v: the image holds",
            status == 0 and "Kind: SH3 image\n" in out and "Address: 0x00008000\n" in out
            and f"CRC: stored 0x{crc:08x}, computed 0x{crc:08x}: ok\n" in out, f"status {status}: {out!r}")


def source_file(source, name):
    for root, _, files in os.walk(os.path.join(source, "code")):
        if name in files:
            with open(os.path.join(root, name), encoding="utf-8") as f:
                return f.read()
    raise FileNotFoundError(name)


def page_text(folder, name):
    """The words of an HTML page: no tags, entities resolved, minus signs as '-'."""
    page = folder.read(name).decode("utf-8", "replace")
    words = html.unescape(re.sub(r"<[^>]*>", "", page))
    return page, words.replace("\u2212", "-").replace("\u2010", "-")


def manual_pages(c, folder, source):
    """Every option that the option parsers know is named in the HTML pages."""
    options = source_file(source, "options.cpp")
    wanted = {"-" + x for x in re.findall(r"case '([A-Za-z?])':", options)}
    wanted |= set(re.findall(r'"(--[a-z][a-z-]*)"', options))
    page, words = page_text(folder, "morlink.html")
    missing = sorted(o for o in wanted if not re.search(r"(?<![\w-])" + re.escape(o), words))
    c.check("morlink.html: a whole page naming every option", page.rstrip().endswith("</html>") and not missing
            and len(wanted) > 10, f"missing {missing}")

    cmdline = source_file(source, "cmdline.cpp")
    wanted = {"/" + x for x in re.findall(r"case '([a-z])':", cmdline) + re.findall(r'"/([a-z])"', cmdline)}
    wanted |= set(re.findall(r'"(--[a-z][a-z-]*)"', cmdline))
    page, words = page_text(folder, "pakwrap.html")
    missing = sorted(o for o in wanted if not re.search(r"(?<![\w/-])" + re.escape(o) + r"(?![a-z])", words))
    c.check("pakwrap.html: a whole page naming every switch", page.rstrip().endswith("</html>") and not missing
            and len(wanted) > 3, f"missing {missing}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--zip", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--simdevice", required=True)
    parser.add_argument("--source", required=True, help="the project's root, for the licence and the options")
    parser.add_argument("--label", default="", help="names the target in the closing lines, e.g. win32")
    args = parser.parse_args()
    c = Checks()
    top = os.path.basename(args.zip)[:-len(".zip")]
    parent = tempfile.mkdtemp(prefix="release zip.")
    try:
        contents(c, args.zip, parent, top)
        folder = Folder(args.wine, os.path.abspath(args.simdevice), os.path.join(parent, top))
        if os.path.isdir(folder.work):
            texts(c, folder, args.source)
            programs(c, folder)
            manual_pages(c, folder, args.source)
    finally:
        shutil.rmtree(parent)
    c.check("the unzipped folder is removed", not os.path.exists(parent))
    return c.finish("zip checks", args.label)


if __name__ == "__main__":
    sys.exit(main())
