#!/usr/bin/env python3
"""The README's "The Debian package" section and the manual's package and
cron blocks, run as written against a package unpacked with dpkg -x into a
scratch root, by the users they name, without systemd.

  package_docs.py ROOT WORK SOURCE DEB CONTROL STUBS SERVICE MEMBER GID

ROOT is the scratch root, DEB the package, CONTROL its unpacked control
files, STUBS a folder of stand-ins for the commands that would change this
machine's users and units (see package_test.sh). SERVICE and MEMBER are
throw-away uids: the package's user quillmar and a sysop in its group GID.

How a command is run:
- absolute paths under /var/lib/quillmar, /var/cache/quillmar, /srv/bbs,
  /etc/systemd/system and /usr are taken inside ROOT; any other is refused;
- each simple command of a line runs as its user: "sudo -u quillmar" as
  SERVICE, "sudo" as root, anything else as MEMBER (its own group, and GID
  beside it); a sudo command may not redirect (its caller's shell would);
- the sysop's umask is 002 for the README and 022 for the manual, whose
  commands start afresh after a purge, so that a member with umask 022 is
  the first to run the job there;
- "apt install ./FILE" unpacks FILE into ROOT and runs its postinst;
  systemctl and journalctl are emulated from the unit files: "start" runs
  the service's ExecStart as its User and Group, with its UMask, folder and
  Environment, and checks that its ReadWritePaths cover the state and the
  host; a crontab line runs as SERVICE the way cron runs it;
- a new archive with a FILE_ID.DIZ is put into the demo's upload folder
  before every command, and after every command each archive the host has
  taken has its description, whoever ran the job before.
At the end every file and folder a run made in the state folder or the host
is checked: the group's, group-writable, folders set-group-ID.
"""
import glob
import html
import json
import os
import re
import shlex
import stat
import subprocess
import sys
import zipfile

root, work, source, deb, control, stubs = sys.argv[1:7]
SERVICE, MEMBER, GID = (int(v) for v in sys.argv[7:10])
MEMBER_GID = GID + 3  # the sysop's own group
state = root + "/var/lib/quillmar"
home = root + "/srv/bbs/host"
incoming = root + "/srv/bbs/incoming"
sysop = work + "/sysop"
mailbox = work + "/mailbox"  # where the stand-in for mail delivers
PATH = root + "/usr/bin:/usr/bin:/bin"
MAPPED = ["/var/lib/quillmar", "/var/cache/quillmar", "/run/quillmar", "/srv/bbs",
          "/etc/systemd/system", "/usr/"]
journal = []
uploads = []
runs = 0


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


# --- Where the commands are ------------------------------------------------

def readme_commands():
    text = open(source + "/README.md").read()
    start = text.index("## The Debian package")
    end = text.find("\n## ", start + 1)
    section = text[start:end if end >= 0 else len(text)]
    return [line[4:] for line in section.splitlines()
            if line.startswith("    ") and line.strip()]


def manual_commands():
    text = open(source + "/docs/Help/Manual.htm").read()
    blocks = re.findall(r'<pre class="(pkg|pkgcron)">(.*?)</pre>', text,
                        re.S)
    return [html.unescape(line) for _, body in blocks
            for line in body.splitlines() if line.strip()]


# --- How a command line is taken apart ------------------------------------

def components(line):
    """Simple commands and the operators between them, quotes kept."""
    parts, current, quote, i = [], "", None, 0
    while i < len(line):
        c = line[i]
        if quote:
            current += c
            if c == "\\" and quote == '"' and i + 1 < len(line):
                current += line[i + 1]
                i += 1
            elif c == quote:
                quote = None
        elif c in "'\"":
            quote = c
            current += c
        elif c == "\\" and i + 1 < len(line):
            current += line[i:i + 2]
            i += 1
        elif line.startswith(("&&", "||"), i) or c in "|;":
            op = line[i:i + 2] if line.startswith(("&&", "||"), i) else c
            parts.append((current.strip(), op))
            current = ""
            i += len(op)
            continue
        else:
            current += c
        i += 1
    parts.append((current.strip(), ""))
    return parts


def redirects(command):
    quote = None
    for c in command:
        if quote:
            quote = None if c == quote else quote
        elif c in "'\"":
            quote = c
        elif c in "<>":
            return True
    return False


def local(text):
    # The package's user and group are throw-away ids here.
    text = re.sub(r"((?:^|\s)-[og]\s+|chgrp\s+(?:-R\s+)?)quillmar\b",
                  lambda m: m.group(1) + (str(SERVICE) if m.group(1).strip()
                                          == "-o" else str(GID)), text)
    for prefix in MAPPED:
        text = re.sub(r"(^|[\s'\"=>(])" + re.escape(prefix),
                      lambda m: m.group(1) + root + prefix, text)
    for m in re.finditer(r"(?:^|[\s'\"=>(])(/[^\s'\"]*)", text):
        path = m.group(1)
        if not path.startswith((root, "/dev/null")):
            fail("a command names %s, outside the package's folders" % path)
    return text


# --- Who runs it -----------------------------------------------------------

def as_user(uid, gid, groups, env_home):
    return ["env", "-i", "PATH=" + PATH, "HOME=" + env_home, "LC_ALL=C",
            "setpriv", "--reuid=%d" % uid, "--regid=%d" % gid,
            "--groups=" + ",".join(str(g) for g in groups), "--"]


ROLES = {
    "service": as_user(SERVICE, GID, [GID], state),
    "member": as_user(MEMBER, MEMBER_GID, [MEMBER_GID, GID], work + "/home"),
    "root": ["env", "-i", "PATH=" + PATH, "HOME=/root", "LC_ALL=C"],
}


def run(argv, umask, cwd=sysop, stdin=None, timeout=120):
    result = subprocess.run(argv, cwd=cwd, input=stdin, capture_output=True,
                            text=True, timeout=timeout,
                            preexec_fn=lambda: os.umask(umask))
    return result.returncode, result.stdout + result.stderr


# --- The stand-ins for apt, systemd and cron -------------------------------

installs = 0


def install(name):
    global installs
    if os.path.normpath(os.path.join(sysop, name)) != \
            os.path.join(sysop, os.path.basename(deb)):
        fail("the docs install %s, cpack made %s" % (name, deb))
    subprocess.run(["dpkg", "-x", deb, root], check=True)
    # What the test does: the pointer beside the program names the scratch
    # state folder, so the unpacked program finds it.
    with open(root + "/usr/lib/quillmar/quillmar.state", "w") as f:
        f.write("# the scratch state folder of the package test\n" + state +
                "\n")
    env = dict(os.environ, DPKG_ROOT=root, PATH=stubs + ":" + os.environ["PATH"])
    subprocess.run(["sh", control + "/postinst", "configure",
                    "1.2" if installs else ""], env=env, check=True)
    installs += 1
    return ""


def purge():
    global installs
    env = dict(os.environ, DPKG_ROOT=root, PATH=stubs + ":" + os.environ["PATH"])
    subprocess.run(["sh", control + "/postrm", "purge"], env=env, check=True)
    if os.path.exists(state) or not os.path.exists(home + "/wchost.db"):
        fail("a purge left the state folder or took the host")
    installs = 0


def unit_settings():
    files = [root + "/lib/systemd/system/quillmar-nightly.service"]
    files += sorted(glob.glob(root + "/etc/systemd/system/"
                              "quillmar-nightly.service.d/*.conf"))
    settings = {}
    for path in files:
        section = None
        for line in open(path):
            line = line.strip()
            if line.startswith("["):
                section = line
            elif section == "[Service]" and "=" in line:
                key, value = line.split("=", 1)
                listed = settings.setdefault(key, [])
                if value:
                    listed.append(value)
                else:
                    listed.clear()  # "Key=" empties a list
    return settings


def service_run():
    s = unit_settings()
    for key in ("User", "Group", "UMask", "WorkingDirectory", "ExecStart",
                "TimeoutStartSec"):
        if not s.get(key):
            fail("the service sets no " + key)
    if s["User"][-1] != "quillmar" or s["Group"][-1] != "quillmar":
        fail("the service runs as %s:%s" % (s["User"][-1], s["Group"][-1]))
    writable = [local(p) for value in s.get("ReadWritePaths", [])
                for p in value.split()]
    for needed in (state, host_from_wcsrv()):
        if not any(needed == p or needed.startswith(p.rstrip("/") + "/")
                   for p in writable):
            fail("the service may not write %s (ReadWritePaths=%s)"
                 % (needed, " ".join(writable)))
    for name, key in (("cache", "CacheDirectory"),
                      ("run", "RuntimeDirectory")):
        base = "/var/cache/" if name == "cache" else "/run/"
        for folder in s.get(key, []):
            path = root + base + folder
            os.makedirs(path, exist_ok=True)
            os.chown(path, SERVICE, GID)
            os.chmod(path, 0o700)
    env = ["PATH=" + PATH]
    for value in s.get("Environment", []):
        env += [local(v) for v in shlex.split(value)]
    argv = (["env", "-i"] + env +
            ["setpriv", "--reuid=%d" % SERVICE, "--regid=%d" % GID,
             "--groups=%d" % GID, "--"] + shlex.split(local(s["ExecStart"][-1])))
    before = program_files()
    code, out = run(argv, int(s["UMask"][-1], 8),
                    cwd=local(s["WorkingDirectory"][-1]))
    journal.append(out)
    count_run(out)
    if code != 0:
        fail("the service's run exited %d:\n%s" % (code, out))
    if program_files() != before:
        fail("the service wrote into the program's folders")
    return out


def host_from_wcsrv():
    for line in open(state + "/wcsrv.ini"):
        if line.strip().lower().startswith("home="):
            return line.split("=", 1)[1].strip()
    fail("wcsrv.ini names no host")


def program_files():
    found = set()
    for folder, dirs, files in os.walk(root + "/usr"):
        for name in dirs + files:
            found.add(os.path.join(folder, name))
    return found


def enable(unit):
    text = open(root + "/lib/systemd/system/" + unit).read()
    if not re.search(r"^\[Install\]\s*\nWantedBy=timers\.target", text, re.M):
        fail(unit + " has no [Install] WantedBy=timers.target")
    return ""


def cron_run(command, mail_log):
    env = ["env", "-i", "PATH=" + stubs + "/mail:" + PATH, "HOME=" + state,
           "SHELL=/bin/sh", "LOGNAME=quillmar", "MAILLOG=" + mail_log,
           "setpriv", "--reuid=%d" % SERVICE, "--regid=%d" % GID,
           "--groups=%d" % GID, "--"]
    code, out = run(env + ["/bin/sh", "-c", local(command)], 0o022, cwd=state)
    if code != 0 or out:
        fail("the crontab line exited %d and printed (cron mails it):\n%s"
             % (code, out))
    global runs
    runs += 1
    mail = open(mail_log).read()
    if "Subject: Quillmar: tonight's run" not in mail or "ERR: " not in mail:
        fail("the test run's mail:\n" + mail)
    log = state + "/cron.log"
    if not open(log).read().rstrip().splitlines()[-1].startswith("Files added: "):
        fail("the crontab line's log:\n" + open(log).read())
    return mail


EMULATED = [
    (r"apt install (\S+)", "root", lambda m: install(m.group(1))),
    (r"systemctl daemon-reload", "root", lambda m: ""),
    (r"systemctl enable --now (quillmar-nightly\.timer)", "root",
     lambda m: enable(m.group(1))),
    (r"systemctl start quillmar-nightly(\.service)?", "root",
     lambda m: service_run()),
    (r"journalctl -u quillmar-nightly", "member", lambda m: "".join(journal)),
]


# --- One line as written ---------------------------------------------------

def run_line(line, umask):
    cron = re.match(r"^\s*((\S+\s+){5})(.*)$", line)
    if cron and re.match(r"^[\d*/,-]+\s", line):
        return cron_run(cron.group(3), mailbox + "/mail.%d" % runs)
    if line == "cd build && cpack":
        return ""  # done first, into the test's own folder
    parts = components(line)
    script = ""
    for text, op in parts:
        role, command = "member", text
        if text.startswith("sudo -u quillmar "):
            role, command = "service", text[len("sudo -u quillmar "):]
        elif text.startswith("sudo "):
            role, command = "root", text[len("sudo "):]
        for pattern, allowed, emulate in EMULATED:
            m = re.fullmatch(pattern, command)
            if m:
                if len(parts) > 1 or role != allowed:
                    fail("run alone and as %s: %s" % (allowed, line))
                return emulate(m)
        if role != "member" and redirects(command):
            fail("a sudo command redirects as its caller, not as root: " + line)
        script += " ".join(shlex.quote(a) for a in ROLES[role]) + \
            " /bin/bash -c " + shlex.quote(local(command)) + " " + op + " "
    code, out = run(["/bin/bash", "-o", "pipefail", "-c", script], umask)
    if code != 0:
        fail("%s exited %d:\n%s" % (line, code, out))
    count_run(out)
    return out


def count_run(out):
    global runs
    if "Files added: " in out:
        runs += 1
        # The job named without a folder is the state folder's, wherever
        # the command was typed (the sysop's folder holds a copy of it).
        if "problems logged: " in out and \
                " in %s/nightly.err" % state not in out:
            fail("the run did not take the state folder's job:\n" + out)


def new_upload():
    name = "UP%03d.ZIP" % (len(uploads) + 1)
    with zipfile.ZipFile(incoming + "/" + name, "w") as z:
        z.writestr("FILE_ID.DIZ", "Upload %s, described\r\n" % name)
        z.writestr("PAYLOAD.TXT", "x" * 100)
    uploads.append(name)


def records():
    code, out = run(ROLES["member"] + [root + "/usr/bin/wcserver", "file",
                    "list", home, "--area", "1", "--json"], 0o002)
    if code != 0:
        fail("wcserver file list: " + out)
    return {r["name"]: r for r in json.loads(out or "[]")}


def check_described(after):
    for name, record in records().items():
        if name.upper().endswith(".ZIP") and not record["short"]:
            fail("%s was added without its description after: %s"
                 % (name, after))


def check_modes():
    made = 0
    for top in (state, home):
        for folder, dirs, files in os.walk(top):
            # fontconfig's cache in the home of a cron run is not the
            # program's.
            dirs[:] = [d for d in dirs if d != ".cache"]
            for name in dirs + files:
                path = os.path.join(folder, name)
                st = os.lstat(path)
                if stat.S_ISLNK(st.st_mode):
                    continue
                rel = path[len(root):]
                # Written by the sysop's own commands, not by a run.
                if rel in ("/var/lib/quillmar/wcsrv.ini",
                           "/var/lib/quillmar/nightly.cfg",
                           "/var/lib/quillmar/cron.log"):
                    if st.st_gid != GID or not st.st_mode & stat.S_IRGRP:
                        fail("%s: %o %d:%d" % (rel, st.st_mode, st.st_uid,
                                               st.st_gid))
                    continue
                want = (stat.S_IRWXG | stat.S_ISGID
                        if stat.S_ISDIR(st.st_mode)
                        else stat.S_IRGRP | stat.S_IWGRP)
                if st.st_gid != GID or (st.st_mode & want) != want:
                    fail("%s is %o, owner %d:%d: the next run of another "
                         "member could not use it" % (rel, st.st_mode & 0o7777,
                                                      st.st_uid, st.st_gid))
                if st.st_uid not in (0, SERVICE, MEMBER):
                    fail("%s belongs to %d" % (rel, st.st_uid))
                made += st.st_uid in (SERVICE, MEMBER)
    if made < 5:
        fail("only %d files and folders made by the runs were found" % made)
    return made


def main():
    os.makedirs(mailbox)
    os.chown(mailbox, SERVICE, GID)
    for source_name, commands, umask in (
            ("README.md", readme_commands(), 0o002),
            ("Manual.htm", manual_commands(), 0o022)):
        if installs:
            purge()  # the manual's install starts afresh; the host stays
        if len(commands) < 8:
            fail("%s: only %d package commands found" % (source_name,
                                                        len(commands)))
        for line in commands:
            new_upload()
            run_line(line, umask)
            print("[%s, umask %03o] %s" % (source_name, umask, line))
            if runs:
                check_described(line)
    taken = records()
    missing = [n for n in uploads[:-1] if n not in taken]
    if runs < 5 or missing:
        fail("%d runs; uploads never added: %s" % (runs, " ".join(missing)))
    print("package docs: %d commands, %d runs, %d files made by runs checked"
          % (len(readme_commands()) + len(manual_commands()), runs,
             check_modes()))


main()
