#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Run from anywhere: python3 fuzz/make_seeds.py. The outputs are committed;
rerun after changing a seed here. Existing seed files are replaced, other
files in the corpus directories are left alone.
"""
import io
import lzma
import os
import stat
import struct
import subprocess
import tarfile
import tempfile
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
LEGACY = os.path.join(HERE, "..", "tests", "data", "LEGACY.ZIP")
CRLF = b"\r\n"


def write(target, name, data):
    path = os.path.join(HERE, "corpus", target, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


# --- configuration records (1064 bytes each) --------------------------------

def text(s):
    return s.encode("latin-1") if isinstance(s, str) else s


def record(area, name="Uploads", action="Add", param="Scan For New",
           spec="*.*", desc="Extract from ZIP", descspec="file_id.diz",
           path="/srv/files/uploads", volume="NA", offline=0,
           marker=b"[FileCHK]\r\0"):
    r = bytearray(1064)
    r[0:len(marker)] = marker

    def put(at, value, width):
        b = text(value)[:width]
        r[at:at + len(b)] = b

    struct.pack_into("<i", r, 16, area)
    put(20, name, 32)
    put(56, action, 32)
    put(89, param, 65)
    put(155, spec, 260)
    put(420, desc, 32)
    put(519, descspec, 260)
    put(780, path, 260)
    put(1041, volume, 16)
    struct.pack_into("<i", r, 1060, offline)
    return bytes(r)


def config_seeds():
    t = "config"
    write(t, "add-scan-for-new.cfg", record(1))
    write(t, "add-files-bbs.cfg",
          record(0, "Games", spec="FILES.BBS", path="host/files0"))
    write(t, "add-from-file-list.cfg",
          record(5, "Utilities", param="From File List", spec="new.qls",
                 desc="NA", descspec="NA"))
    write(t, "delete-just-records.cfg",
          record(12, "Archive", "Delete", "Just Remove Records", "old.qls",
                 "NA", "NA"))
    write(t, "list-all-files.cfg",
          record(1, "Games", "List", "Double", "*.ZIP", "All Files List",
                 "ALLFILES.TXT"))
    # A 45-character Move parameter runs on into the reserved field; read
    # back it keeps its first 33 characters, target number included.
    write(t, "move-long-param.cfg",
          record(5, "Utilities", "Move",
                 "Files and Records >to> 12:Nineteen Char Area!"[:45]))
    write(t, "move-target-cut.cfg",
          record(5, "Utilities", "Move",
                 "Just Copy Files >to> 123456789012:Far Away"))
    write(t, "move-no-colon.cfg",
          record(1, "Games", "Move", "Files and Records >to> 12"))
    write(t, "na-offline-volume.cfg",
          record(12, "Archive", "NA", "NA", "NA", "NA", "NA",
                 "[CDROM]\\games", "CDROM", 1))
    write(t, "lowercase-add.cfg", record(1, action="add"))
    write(t, "unknown-area.cfg", record(7, "Gone"))
    write(t, "negative-area.cfg", record(-1, offline=-1))
    # Every text field full, without any terminating NUL.
    full = bytearray(record(0))
    for at, width in ((20, 32), (56, 33), (89, 66), (155, 261), (420, 33),
                      (519, 261), (780, 261), (1041, 16)):
        full[at:at + width] = b"F" * width
    write(t, "fields-full.cfg", bytes(full))
    write(t, "three-records-and-tail.cfg",
          record(0) + record(7) + record(12, action="List") + b"\x55" * 100)
    write(t, "marker-lowercase.cfg", record(1, marker=b"[filechk]\r\0"))
    write(t, "marker-nul-no-cr.cfg", record(1, marker=b"[FileCHK]\0"))
    write(t, "marker-ctrl-z.cfg", record(1, marker=b"[FileCHK]\x1a"))
    write(t, "marker-lf.cfg", record(1, marker=b"[FileCHK]\n"))
    write(t, "marker-only-text.cfg", b"[FileCHK]\r\n")
    write(t, "marker-short.cfg", b"[FileCH")
    write(t, "empty.cfg", b"")


# --- FILES.BBS listings -----------------------------------------------------

def lines(*items, end=CRLF):
    return b"".join(text(i) + end for i in items)


def filesbbs_seeds():
    t = "filesbbs"
    write(t, "example-table.bbs", lines(
        "GAME.ZIP  12345  01-01-98  A fine game  for two",
        "   | continued text",
        "README  First line",
        "FILE.TXT Note  on use",
        "ONE.ZIP 12345 01-01-98 A game"))
    write(t, "title-lines.bbs", lines(
        "==========================================",
        "   Fuzzed Files: the games of the year",
        "   A title of exactly forty characters xx",
        "   Line four is no title",
        "GAME.ZIP  A game"))
    write(t, "ctrl-z-ends.bbs",
          lines("ONE.ZIP  first", "   more") + b"\x1a" +
          lines("TWO.ZIP  never read"))
    many = ["MANY.ZIP  line 1"] + ["   | line %d" % i for i in range(2, 21)]
    write(t, "twenty-lines.bbs", lines(*many))
    write(t, "long-lines.bbs", lines(
        "GAME.ZIP  " + "x" * 90,
        "   " + "y" * 100,
        "README  " + "z" * 300 + "  tail",
        "TWO.ZIP" + " " * 280 + "after spaces"))
    write(t, "dashes-and-case.bbs", lines(
        "-----", "game.zip  lower case name", "GAME.ZIP  twice",
        "readme  again", "Mixed.Case  mixed"))
    write(t, "lf-only.bbs", lines("ONE.ZIP  one", "   one more",
                                  "TWO.ZIP  two", end=b"\n"))
    write(t, "cr-only.bbs", lines("ONE.ZIP  one", "TWO.ZIP  two", end=b"\r"))
    write(t, "mixed-ends.bbs", b"ONE.ZIP  one\r\n\n\rTWO.ZIP  two\n\r  | x")
    write(t, "high-bytes.bbs", lines(
        b"\xc4\xc4\xc4\xc4 Files \xc4\xc4\xc4\xc4", b"\xb3 box text",
        "FILE.TXT  text", b"\x80\x81\xff"))
    write(t, "names-odd.bbs", lines(
        "VERYLONGNAME15.ZIP  too long to store",
        "$DATA.TXT  dollar", "NODOT  no | dot | bars", "A",
        "FILES.BBS  the list itself", "MISSING.ZIP  not there",
        "ab/cd.zip  slash", "x:y.zip  colon"))
    write(t, "blank-and-tabs.bbs", lines("", "   ", "GAME.ZIP\tTab  x", "",
                                         "\t\tcontinued"))
    write(t, "no-final-end.bbs", b"README  last line without end")
    # Layouts of other boards' lists, made up in their shapes.
    write(t, "dialect-counter.bbs", lines(
        "GAME.ZIP     [00] A game", "\t\t  for two", " ",
        "ONE.ZIP      [0]  ( no information available )",
        "TWO.ZIP   [0]  Two", "                               | more"))
    write(t, "dialect-size-date.bbs", lines(
        "GAME.ZIP     55475  03-27-92  No ID File Found For This Archive File.",
        " " * 34 + "Please consult the documentation of this",
        "ONE.ZIP         12  04/28/93  one"))
    write(t, "dialect-date.bbs", lines(
        "Games                Area                       Files:   2",
        "-" * 40, "GAME.ZIP      04/28/93 me game for tw",
        " A game game for two", "ONE.ZIP       1-2-1993 one"))
    write(t, "dialect-size.bbs", lines(
        "game.zip            27K A game", "one.zip              2M one"))
    write(t, "dialect-name-column.bbs", lines(
        "", " A CD of files, 1994.", " " + "-" * 30,
        "GAME.ZIP     No description available",
        "ONE.ZIP      One                           Nov 1991 ",
        "FILE.TXT     "))
    write(t, "empty.bbs", b"")


# --- path lists -----------------------------------------------------------

def pathlist_seeds():
    t = "pathlist"
    write(t, "area-and-upload.qls", lines(
        "host/files1/GAME.ZIP", "upload/NEW.ZIP", "upload/sub/DEEP.TXT"))
    write(t, "existing-and-twice.qls", lines(
        "upload/old.zip", "host/files1/OLD.ZIP", "upload/game.zip",
        "host/files1/GAME.ZIP", "upload/NEW.ZIP", "upload/NEW.ZIP"))
    write(t, "lf-only.qls", lines("upload/NEW.ZIP", "host/files1/README",
                                  end=b"\n"))
    write(t, "cr-only.qls", lines("upload/NEW.ZIP", "host/files1/file.txt",
                                  end=b"\r"))
    write(t, "missing-and-blank.qls", lines(
        "", "upload/MISSING.ZIP", "   ", "/nonexistent/dir/x.zip", "upload/",
        "upload/sub", "upload/.hidden", "upload/VERYLONGNAME15.ZIP"))
    write(t, "nul-ends.qls", b"upload/NEW.ZIP\r\n\0host/files1/GAME.ZIP\r\n")
    write(t, "dots-and-backslashes.qls", lines(
        "./upload/NEW.ZIP", "upload/../upload/game.zip",
        "host\\files1\\README", "host/files1/./file.txt"))
    write(t, "list-itself.qls", lines("host/files1/list.qls"))
    write(t, "no-final-end.qls", b"upload/NEW.ZIP")
    write(t, "empty.qls", b"")


# --- settings files ---------------------------------------------------------

def settings_seeds():
    t = "settings"
    write(t, "usual.ini", lines(
        "[General]", "SysopName=Sam Sysop", "BBSName=The Board",
        "wcHomeDir=/srv/wc5/", "", "[Main Window]", "Top=15", "Left=-4", "",
        "[Config Window]", "Top=15", "Left=15", "Height=460", "Width=620",
        "Area Name=150", "No.=30", "File Action (FA)=100", "FA Param=150",
        "Offline=100"))
    write(t, "hex-values.ini", lines(
        "[Main Window]", "Top=0x1F", "Left=0X1f", "[Config Window]",
        "Top=$1F", "Left=1F", "Height=0x", "Width=$", "Area Name=-$10",
        "No.=+5", "Path=2147483648", "Volume=-2147483648",
        "Offline=0xFFFFFFFF", "FA Spec=$FFFFFFFF", "FA Param=0x100000000"))
    write(t, "spacing-quotes-comments.ini", lines(
        "; a comment", "  [ General ]  ", "  SysopName  =  spaced  ",
        "BBSName=\"quoted\"", "wcHomeDir='single'", ";Top=1",
        "no equals here", "=no key", "[Main Window]", "Top = 12 "))
    write(t, "duplicates.ini", lines(
        "[General]", "SysopName=first", "SYSOPNAME=second", "[general]",
        "SysopName=other section", "[Main Window]", "Top=1", "[General]",
        "BBSName=third section"))
    write(t, "odd-headers.ini", lines(
        "[General", "SysopName=no close", "[]", "Top=1", "[[x]]", "Left=2",
        "[Main Window] trailing", "Top=3", "[a]b]", "k=v"))
    write(t, "lf-only.ini", lines("[General]", "BBSName=lf", end=b"\n"))
    write(t, "cr-only.ini", lines("[General]", "BBSName=cr", end=b"\r"))
    write(t, "no-final-end.ini", b"[General]\r\nwcHomeDir=/srv/wc5/")
    write(t, "long-value.ini",
          lines("[General]", "SysopName=" + "s" * 1100, "BBSName=b"))
    write(t, "nul-and-high.ini",
          b"[General]\r\nSysop\0Name=x\r\nBBSName=\xe9t\xe9\r\n[\xc4]\r\nk=\0\r\n")
    write(t, "empty.ini", b"")


# --- ZIP archives -----------------------------------------------------------

def zip_bytes(members, compression=zipfile.ZIP_DEFLATED, prep=None):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", compression) as z:
        for m in members:
            name, data = m[0], m[1]
            info = zipfile.ZipInfo(name, date_time=(1998, 1, 1, 12, 0, 0))
            info.compress_type = compression
            if len(m) > 2:
                info.external_attr = m[2] << 16
                info.create_system = 3  # Unix
            z.writestr(info, data)
    data = buf.getvalue()
    return prep(data) if prep else data


def diz(*items, end=CRLF):
    return lines(*items, end=end)


def describe_seeds():
    t = "describe"
    write(t, "three-lines.zip", zip_bytes([
        ("FILE_ID.DIZ", diz("Best game ever", "Version 2", "Freeware")),
        ("GAME.EXE", b"MZ")]))
    write(t, "single-line.zip", zip_bytes([("file_id.diz", b"One line only")]))
    # Not an archive: the bytes of an ANSI description, read as one.
    sauce = bytearray(b"SAUCE00" + b" " * 121)
    sauce[104] = 1
    write(t, "ansi-sauce.ans",
          b"\x1b[0;1;33m\xdb\xdb\x1b[5C\xdc Title\x1b[0m  \r\n\x1b[2J\x1b[1;1H"
          b"\x1b7x\x1b[12" + b"\x1a" + b"COMNT" + b"c" * 64 + bytes(sauce))
    write(t, "twenty-lines-long.zip", zip_bytes([
        ("FILE_ID.DIZ", diz("L" * 100, *["line %d" % i for i in range(2, 21)]))]))
    write(t, "nested-paths.zip", zip_bytes([
        ("docs/", b""), ("docs/sub/file_id.diz", diz("Nested description")),
        ("docs/readme.txt", b"read me")]))
    write(t, "two-matching.zip", zip_bytes([
        ("FILE_ID.DIZ", diz("first")), ("a/file_id.diz", diz("second"))]))
    write(t, "no-match.zip", zip_bytes([("README.TXT", b"no description")]))
    write(t, "empty-member.zip", zip_bytes([("FILE_ID.DIZ", b"")]))
    write(t, "stored.zip", zip_bytes([("FILE_ID.DIZ", diz("Stored, not packed"))],
                                     zipfile.ZIP_STORED))
    write(t, "empty-archive.zip", zip_bytes([]))
    whole = zip_bytes([("FILE_ID.DIZ", diz("cut short", "more"))])
    write(t, "truncated.zip", whole[:len(whole) // 2])
    write(t, "traversal-names.zip", zip_bytes([
        ("../file_id.diz", diz("climbing")), ("/abs/FILE_ID.DIZ", diz("abs")),
        ("..", b"dots"), ("file_id.diz/", b"")]))
    write(t, "over-64k.zip", zip_bytes([("FILE_ID.DIZ", b"a" * 70000)]))
    write(t, "symlink-member.zip", zip_bytes([
        ("FILE_ID.DIZ", b"/etc/passwd", stat.S_IFLNK | 0o777)]))
    write(t, "other-members.zip", zip_bytes([
        ("DESC.SDI", diz("sdi description")), (".hidden", b"hidden member"),
        ("notes.diz", diz("another diz"))]))
    write(t, "line-ends.zip", zip_bytes([
        ("FILE_ID.DIZ", b"lf only\nsecond\rthird\r\n\r\nfifth\0after nul")]))

    def bad_crc(data):
        b = bytearray(data)
        at = b.index(b"CRC check")
        b[at] ^= 0x20
        return bytes(b)
    write(t, "bad-crc.zip", zip_bytes([("FILE_ID.DIZ", diz("CRC check"))],
                                      zipfile.ZIP_STORED, bad_crc))

    def encrypted_flag(data):
        b = bytearray(data)
        b[6] |= 1  # local header
        cd = b.index(b"PK\x01\x02")
        b[cd + 8] |= 1  # central directory
        return bytes(b)
    write(t, "encrypted-flag.zip", zip_bytes([("FILE_ID.DIZ", diz("secret"))],
                                             zipfile.ZIP_STORED, encrypted_flag))
    write(t, "sfx-prefix.zip",
          b"MZ" + b"\0" * 62 + zip_bytes([("FILE_ID.DIZ", diz("self-extracting"))]))
    padded = zip_bytes([("FILE_ID.DIZ", diz("Padded by XMODEM"))])
    write(t, "padded-ctrl-z.zip", padded + b"\x1a" * (128 - len(padded) % 128))
    write(t, "padded-nul.zip", padded + b"\0" * 881)
    write(t, "advert-after.zip",
          padded + b"\r\nDownloaded from The Night Owl BBS\r\n\x1a")
    write(t, "not-a-zip.zip", b"This is plain text, not an archive.\r\n")
    write(t, "empty.zip", b"")

    legacy_seeds(t)
    other_format_seeds(t)


# --- PKZIP 1 methods and the formats read through libarchive ---------------

def raw_zip(name, method, packed, size, crc, flags=0):
    """One member with the packed bytes as given (methods no tool writes)."""
    name = text(name)
    common = struct.pack("<HHHIIIIHH", 10, flags, method, 0, crc, len(packed),
                         size, len(name), 0)
    local = b"PK\x03\x04" + common + name + packed
    central = (b"PK\x01\x02" + struct.pack("<H", 10) + common +
               struct.pack("<HHHII", 0, 0, 0, 0, 0) + name)
    end = b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, 1, 1, len(central),
                                         len(local), 0)
    return local + central + end


def reduce_stream(data):
    """Reduced bytes for any factor: empty follower sets, every byte a
    literal (144 escaped), then 4 bytes copied from 2 back."""
    bits = []

    def put(value, count):
        bits.extend((value >> i) & 1 for i in range(count))
    for _ in range(256):
        put(0, 6)
    for c in data:
        put(c, 8)
        if c == 144:
            put(0, 8)
    for c in (144, 1, 1):
        put(c, 8)
    out = bytearray((len(bits) + 7) // 8)
    for i, b in enumerate(bits):
        out[i // 8] |= b << (i % 8)
    return bytes(out)


def legacy_seeds(t):
    """Members of the committed PKZIP 1 sample, packed bytes unchanged, each
    alone in an archive small enough to fuzz; and reduced members."""
    with open(LEGACY, "rb") as f:
        whole = f.read()
    archive = zipfile.ZipFile(io.BytesIO(whole))
    for name, seed in (("FILE_ID.DIZ", "shrunk.zip"),
                       ("TNPORT.TXT", "imploded.zip")):
        info = archive.getinfo(name)
        name_len, extra_len = struct.unpack_from("<HH", whole,
                                                 info.header_offset + 26)
        start = info.header_offset + 30 + name_len + extra_len
        packed = whole[start:start + info.compress_size]
        write(t, seed, raw_zip("FILE_ID.DIZ", info.compress_type, packed,
                               info.file_size, info.CRC, info.flag_bits))
    head = diz("Reduced long ago", "by PKZIP 0.9") + b"\x90 ab"
    plain = head + b"abab"
    for factor in range(1, 5):
        write(t, "reduced-%d.zip" % factor,
              raw_zip("FILE_ID.DIZ", 1 + factor, reduce_stream(head),
                      len(plain), zlib.crc32(plain)))


def tar_bytes(members, mode="w"):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode=mode, format=tarfile.USTAR_FORMAT) as tf:
        for m in members:
            info = tarfile.TarInfo(m[0])
            info.mtime = 883656000
            if len(m) > 2:
                info.type, info.linkname = m[2], m[1]
                tf.addfile(info)
            else:
                info.size = len(m[1])
                tf.addfile(info, io.BytesIO(m[1]))
    return buf.getvalue()


def lzh_bytes(*members):
    """Stored (-lh0-) members (name, data) with level 0 headers, then the
    end mark."""
    out = b""
    for name, data in members:
        crc = 0
        for c in data:
            crc ^= c
            for _ in range(8):
                crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
        name = text(name)
        body = (b"-lh0-" +
                struct.pack("<IIIBB", len(data), len(data), 0, 0x20, 0) +
                bytes([len(name)]) + name + struct.pack("<H", crc))
        out += bytes([len(body), sum(body) & 0xFF]) + body + data
    return out + b"\0"


def seven_zip_number(value):
    for n in range(8):
        if value < 1 << (7 * (n + 1)):
            first = ((0xFF00 >> n) & 0xFF) | (value >> (8 * n))
            return bytes([first]) + value.to_bytes(8, "little")[:n]
    return b"\xff" + value.to_bytes(8, "little")


def seven_zip_streams(pack_pos, pack_size, unpack_size):
    """Pack and unpack info of one LZMA2 folder."""
    n = seven_zip_number
    return (b"\x06" + n(pack_pos) + n(1) + b"\x09" + n(pack_size) + b"\0" +
            b"\x07\x0b" + n(1) + b"\0" + n(1) + b"\x21\x21" + n(1) +
            b"\x10" + b"\x0c" + n(unpack_size) + b"\0")


def seven_zip_hand(members, empty_files=0):
    """A 7z written by hand: empty files named "a", then the members (name,
    data) in one solid LZMA2 block; the header LZMA2-packed too."""
    n = seven_zip_number

    def lzma2(data):
        return lzma.compress(data, format=lzma.FORMAT_RAW, filters=[
            {"id": lzma.FILTER_LZMA2, "preset": 0}])
    solid = lzma2(b"".join(d for _, d in members)) if members else b""
    header = b"\x01"
    if members:
        header += (b"\x04" + seven_zip_streams(
            0, len(solid), sum(len(d) for _, d in members)) +
            b"\x08\x0d" + n(len(members)) + b"\x09" +
            b"".join(n(len(d)) for _, d in members[:-1]) + b"\0\0")
    files = empty_files + len(members)
    header += b"\x05" + n(files)
    if empty_files:
        bits = bytearray((files + 7) // 8)
        for i in range(empty_files):
            bits[i // 8] |= 0x80 >> (i % 8)
        empty = bytes(bits[:(empty_files + 7) // 8])
        header += b"\x0e" + n(len(bits)) + bytes(bits)
        header += b"\x0f" + n(len(empty)) + empty
    names = b"\0" + "a\0".encode("utf-16-le") * empty_files + b"".join(
        (text(m).decode("latin-1") + "\0").encode("utf-16-le")
        for m, _ in members)
    header += b"\x11" + n(len(names)) + names + b"\0\0"
    packed = lzma2(header)
    nxt = b"\x17" + seven_zip_streams(len(solid), len(packed), len(header)) + b"\0"
    start = (struct.pack("<QQ", len(solid) + len(packed), len(nxt)) +
             struct.pack("<I", zlib.crc32(nxt)))
    return (b"7z\xbc\xaf\x27\x1c\x00\x04" +
            struct.pack("<I", zlib.crc32(start)) + start + solid + packed + nxt)


def seven_zip_bytes(members):
    """A 7z archive made by bsdtar; None when bsdtar is not there."""
    with tempfile.TemporaryDirectory() as d:
        for name, data in members:
            path = os.path.join(d, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        out = os.path.join(d, "out.7z")
        try:
            subprocess.run(["bsdtar", "-c", "-f", out, "--format=7zip"] +
                           [m[0] for m in members], cwd=d, check=True)
        except (OSError, subprocess.CalledProcessError):
            return None
        with open(out, "rb") as f:
            return f.read()


def other_format_seeds(t):
    three = diz("Best game ever", "Version 2", "Freeware")
    root_and_sub = [("SUBDIR/FILE_ID.DIZ", diz("other program")),
                    ("File_id.diz", three), ("FILE_ID.DIZ", diz("later"))]
    write(t, "three-lines.tar", tar_bytes([("FILE_ID.DIZ", three)]))
    write(t, "root-and-sub.tar", tar_bytes(root_and_sub))
    write(t, "root-and-sub.tar.gz", tar_bytes(root_and_sub, "w:gz"))
    write(t, "links.tar", tar_bytes([
        ("OTHER.TXT", b"linked"), ("FILE_ID.DIZ", "OTHER.TXT", tarfile.LNKTYPE),
        ("file_id.diz", "/etc/passwd", tarfile.SYMTYPE),
        ("../../FILE_ID.DIZ", diz("climbing"))]))
    whole = tar_bytes([("FILE_ID.DIZ", b"x" * 3000)])
    write(t, "truncated.tar", whole[:1024])
    write(t, "three-lines.lzh", lzh_bytes(("FILE_ID.DIZ", three)))
    write(t, "latin-1-names.lzh", lzh_bytes(
        ("Can\xb7we\xb7help\xb7you", b"picture"),
        ("\xbb>dA_aBSOLUTE_bEST<\xab", b"best"), ("FILE_ID.DIZ", three)))
    write(t, "solid-zeros.7z", seven_zip_hand(
        [("FILE_ID.DIZ", three), ("ZEROS.BIN", bytes(1 << 20))]))
    write(t, "many-names.7z", seven_zip_hand(
        [("FILE_ID.DIZ", three)], empty_files=10000))
    seven = seven_zip_bytes(root_and_sub)
    if seven:
        write(t, "root-and-sub.7z", seven)
        write(t, "truncated.7z", seven[:len(seven) // 2])


if __name__ == "__main__":
    config_seeds()
    filesbbs_seeds()
    pathlist_seeds()
    settings_seeds()
    describe_seeds()
