#!/usr/bin/env python3
"""Lays out the demo: a program directory with its host, new uploads, a
FILES.BBS listing and a nightly configuration file.

  make_demo.py BUILD DEMO                  copies BUILD/bin to DEMO/bin
  make_demo.py --program-dir PROGDIR DEMO  uses the program directory
                                           PROGDIR as it is (an installed one)
  make_demo.py --host WCSERVER HOME DEMO   the host in HOME (made with the
                                           program WCSERVER), the job in DEMO
Prints the folder that holds the job nightly.cfg."""
import os
import shutil
import struct
import subprocess
import sys
import zipfile

RECORD = 1064


def put(buf, offset, text, size):
    data = text.encode("latin-1")[: size - 1]
    buf[offset : offset + len(data)] = data


def encode(area, name, action, param, spec, desc_action, desc_spec, path):
    buf = bytearray(RECORD)
    buf[0:11] = b"[FileCHK]\r\0"
    struct.pack_into("<i", buf, 16, area)
    put(buf, 20, name, 33)
    put(buf, 56, action, 33)
    put(buf, 89, param, 66)
    put(buf, 155, spec, 261)
    put(buf, 420, desc_action, 33)
    put(buf, 519, desc_spec, 261)
    put(buf, 780, path, 261)
    put(buf, 1041, "NA", 17)
    return bytes(buf)


def zip_with_diz(path, diz_lines, payload_name, payload):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("FILE_ID.DIZ", "\r\n".join(diz_lines) + "\r\n")
        z.writestr(payload_name, payload)


def main():
    home = None
    if sys.argv[1] == "--host":
        wcserver = os.path.abspath(sys.argv[2])
        home, demo = os.path.abspath(sys.argv[3]), os.path.abspath(sys.argv[4])
        bindir = demo
        os.makedirs(demo, exist_ok=True)
    elif sys.argv[1] == "--program-dir":
        bindir, demo = os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
        if os.path.exists(demo):
            shutil.rmtree(demo)
        os.makedirs(demo)
    else:
        build, demo = sys.argv[1], sys.argv[2]
        if os.path.exists(demo):
            shutil.rmtree(demo)
        bindir = os.path.join(demo, "bin")
        shutil.copytree(os.path.join(build, "bin"), bindir)
    if home is None:
        wcserver = os.path.join(bindir, "wcserver")
        home = os.path.join(bindir, "host")

    def run(*args):
        subprocess.run([wcserver, *args], check=True, stdout=subprocess.DEVNULL)

    run("init", home, "--sysop", "Demo Sysop", "--bbs", "Quillmar Demo BBS")
    areas = [(1, "New Uploads", "files/uploads"),
             (2, "Games", "files/games"),
             (3, "Utilities", "files/utils")]
    for number, name, path in areas:
        run("area", "add", home, "--number", str(number), "--name", name,
            "--path", path)
        os.makedirs(os.path.join(home, path), exist_ok=True)

    incoming = os.path.join(demo, "incoming")
    os.makedirs(incoming)
    zip_with_diz(os.path.join(incoming, "STARGAME.ZIP"),
                 ["Star Game v2.1 - a space trading game",
                  "for two to four players.", "Freeware."],
                 "STAR.EXE", b"\0" * 5000)
    zip_with_diz(os.path.join(incoming, "DISKTOOL.ZIP"),
                 ["Disk Tool 1.0: checks and repairs floppy disks"],
                 "DISKTOOL.EXE", b"\1" * 3000)
    with open(os.path.join(incoming, "README.TXT"), "w") as f:
        f.write("Read me first.\n")
    zip_with_diz(os.path.join(incoming, "AVERYLONGNAME.ZIP"),
                 ["This name is too long for the host"], "X.TXT", b"x")

    utils = os.path.join(home, "files/utils")
    for name, size in (("PKTOOLS.ZIP", 12000), ("EDITOR.ZIP", 8000),
                       ("NOTES.TXT", 300)):
        with open(os.path.join(utils, name), "wb") as f:
            f.write(b"u" * size)
    with open(os.path.join(utils, "FILES.BBS"), "wb") as f:
        # Lines 1 to 3 that do not name a file rename the area.
        f.write(b"   Utility programs for the sysop\r\n"
                b"EDITOR.ZIP   8000  02-02-98  A small text editor\r\n"
                b"NOTES.TXT  Notes of the sysop\r\n"
                b"PKTOOLS.ZIP  12000  01-01-98  Archive tools for every day\r\n"
                b"   | with a second line of description\r\n"
                b"MISSING.ZIP  Listed but not on disk\r\n\x1a")

    entries = [
        encode(1, "New Uploads", "Add", "Scan For New",
               os.path.join(incoming, "*.*"), "Extract from ZIP",
               "file_id.diz", os.path.join(home, "files/uploads/")),
        encode(2, "Games", "NA", "NA", "NA", "NA", "NA",
               os.path.join(home, "files/games/")),
        encode(3, "Utilities", "Add", "Scan For New", "FILES.BBS",
               "Extract from ZIP", "file_id.diz",
               os.path.join(home, "files/utils/")),
        encode(1, "New Uploads", "List", "Full", "*.*", "Per File Area",
               "Files.BBS", os.path.join(home, "files/uploads/")),
    ]
    with open(os.path.join(bindir, "nightly.cfg"), "wb") as f:
        f.write(b"".join(entries))
    print(bindir)


if __name__ == "__main__":
    main()
