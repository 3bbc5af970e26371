#!/usr/bin/env python3
"""Lays out the demo (make_demo.py), adds records with DOS-era descriptions
and writes the web listings of all areas with DOS text chosen. Prints the
HTML listing's path.
Usage: make_web_demo.py BUILD_DIR DEMO_DIR"""
import os
import subprocess
import sys

import make_demo


def main():
    build, demo = sys.argv[1], sys.argv[2]
    sys.argv = [sys.argv[0], build, demo]
    bindir = os.path.join(demo, "bin")
    with open(os.devnull, "w") as quiet:
        saved, sys.stdout = sys.stdout, quiet
        try:
            make_demo.main()
        finally:
            sys.stdout = saved
    home = os.path.join(bindir, "host")
    wcserver = os.path.join(bindir, "wcserver")
    quillmar = os.path.join(bindir, "quillmar")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    subprocess.run([quillmar, "nightly.cfg"], cwd=bindir, env=env,
                   check=True, stdout=subprocess.DEVNULL)

    # Descriptions drawn in code page 437, as DOS-era uploads carry them.
    games = {
        b"DOOMED.ZIP": [b"\xc9" + b"\xcd" * 20 + b"\xbb",
                        b"\xba" + b"  D O O M E D  v1.9".ljust(20) + b"\xba",
                        b"\xc8" + b"\xcd" * 20 + b"\xbc",
                        b"Shareware episode, 3 levels. \xdb\xdb\xdb\xb2\xb1\xb0"],
        b"TETRIX.ZIP": [b"Tetrix 2.0 \xc4 falling blocks for EGA/VGA",
                        b"\xfe Hiscores \xfe Sound Blaster \xfe 286+"],
        b"CAFE.ZIP": [b"Caf\xc3\xa9 Manager: a UTF-8 description stays as it is"],
    }
    for name, lines in games.items():
        path = os.path.join(home, "files/games", name.decode())
        with open(path, "wb") as f:
            f.write(b"g" * (len(name) * 1000))
        args = [wcserver.encode(), b"file", b"add", home.encode(), b"--area",
                b"2", b"--name", name]
        for line in lines:
            args += [b"--desc", line]
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL)

    with open(os.path.join(bindir, "quillmar.ini"), "ab") as f:
        f.write(b"[Extras]\r\nCharset=CP437\r\n")
    entries = [make_demo.encode(n, name, "List", mode, "*.*", "All Files List",
                                out, os.path.join(home, path))
               for mode, out in (("HTML", "files.html"), ("JSON", "files.json"))
               for n, name, path in ((1, "New Uploads", "files/uploads/"),
                                     (2, "Games", "files/games/"),
                                     (3, "Utilities", "files/utils/"))]
    with open(os.path.join(bindir, "web.cfg"), "wb") as f:
        f.write(b"".join(entries))
    subprocess.run([quillmar, "web.cfg"], cwd=bindir, env=env, check=True,
                   stdout=subprocess.DEVNULL)
    print(os.path.join(bindir, "files.html"))


if __name__ == "__main__":
    main()
