#!/usr/bin/env bash
# The packages as a sysop gets them. cpack builds the Debian package and the
# archive; lintian checks them; the package's files,
# control fields, hardening and units are checked; its maintainer scripts
# install, upgrade from 1.1 and purge inside a scratch root (DPKG_ROOT, with
# stand-ins for the commands that would change this machine's users and
# units); then, as root only, the README's and the manual's package and cron
# commands run as written from a package unpacked with dpkg -x, as
# throw-away users (tests/package_docs.py), and every file they make is
# checked. The test writes the unpacked program's quillmar.state to name
# the scratch state folder. Nothing here needs systemd running.
# package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work" # the throw-away users reach the scratch root
fail() {
  echo "FAILED: $*"
  exit 1
}
# Each step's seconds, and the whole test's at the end.
began=$SECONDS step=$SECONDS
took() {
  echo "  ($1: $((SECONDS - step)) s)"
  step=$SECONDS
}

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  {
    cat "$work/cpack.log"
    fail "cpack"
  }
version=$(dpkg-deb -f "$work"/out/quillmar_*_amd64.deb Version)
deb=$work/out/quillmar_${version}_amd64.deb
ddeb=$work/out/quillmar-dbgsym_${version}_amd64.ddeb
tgz=$work/out/quillmar-$version.tar.gz
for f in "$deb" "$ddeb" "$tgz"; do [ -f "$f" ] || fail "cpack made no $f"; done
grep -q "quillmar_${version}_amd64.deb" "$source/README.md" ||
  fail "the README does not name $(basename "$deb")"
took cpack

# --- Debian's own checks -----------------------------------------------------
# Tags accepted (all of them informational), each for a reason a Debian
# maintainer would give:
accepted=(
  # The manual the help buttons open: a program must not need
  # /usr/share/doc to work.
  package-contains-documentation-outside-usr-share-doc
  # "loggin": the host's own message, word for word as sysops know it.
  spelling-error-in-binary
  # The debug symbols' documentation is the package's, a link as
  # dh_installdocs --link-doc makes it; lintian checks one package at a
  # time, so it cannot see that the package is ours.
  cannot-check-whether-usr-share-doc-symlink-points-to-foreign-package
  # Built with _FORTIFY_SOURCE; the ZIP library calls none of the functions
  # glibc can check at this level.
  hardening-no-fortify-functions
)
command -v lintian >/dev/null || fail "no lintian (bash scripts/setup.sh)"
lintian_out=$(lintian --pedantic --display-info --fail-on error,warning \
  --suppress-tags "$(
    IFS=,
    echo "${accepted[*]}"
  )" "$deb" "$ddeb" 2>&1 | { grep -v '^running with root privileges' || true; }) || {
  echo "$lintian_out"
  fail "lintian"
}
[ -z "$lintian_out" ] || echo "$lintian_out"
took lintian

field() { dpkg-deb -f "$deb" "$1"; }
[ "$version" = "$(sed -n 's/^project(Quillmar VERSION \([^ ]*\) .*/\1/p' \
  "$source/CMakeLists.txt")" ] || fail "Version: $version"
grep -q 'adduser' <<<"$(field Depends)" || fail "Depends: adduser"
grep -q 'libqt6widgets6' <<<"$(field Depends)" || fail "Depends: Qt"
grep -qE '^[^<]+ <[^@ ]+@[^> ]+\.[a-z]+>$' <<<"$(field Maintainer)" ||
  fail "Maintainer: $(field Maintainer)"
[ "$(field Description | wc -l)" -ge 5 ] || fail "no extended description"
# Installed-Size as dpkg counts it: each file in whole KiB, each other entry
# one.
for package in "$deb" "$ddeb"; do
  counted=$(dpkg-deb --fsys-tarfile "$package" | tar -tvf - | awk '
    $1 ~ /^-/ { kib += int(($3 + 1023) / 1024); next } { kib += 1 }
    END { print kib }')
  claimed=$(dpkg-deb -f "$package" Installed-Size)
  [ $((claimed - counted)) -le 4 ] && [ $((counted - claimed)) -le 4 ] ||
    fail "$(basename "$package"): Installed-Size: $claimed KiB claimed," \
      "$counted KiB in it"
  echo "  ($(basename "$package"): Installed-Size $claimed KiB)"
done
[ "$(dpkg-deb -f "$ddeb" Depends)" = "quillmar (= $version)" ] ||
  fail "the debug symbols depend on $(dpkg-deb -f "$ddeb" Depends)"

# Every entry of the package: root's, writable by root alone, each with its
# mode.
dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' >"$work/contents"
while read -r mode owner path; do
  [ "$owner" = root/root ] || fail "$path belongs to $owner"
  case "$path" in
  */) want=drwxr-xr-x ;;
  ./usr/bin/quillmar | ./usr/bin/wcserver | ./usr/lib/quillmar/Help)
    want=lrwxrwxrwx ;;
  ./usr/lib/quillmar/quillmar | ./usr/lib/quillmar/wcserver) want=-rwxr-xr-x ;;
  *) want=-rw-r--r-- ;;
  esac
  [ "$mode" = "$want" ] || fail "$path is $mode, not $want"
done <"$work/contents"
# The debug symbols: read, never run.
dpkg-deb -c "$ddeb" | awk '{ print $1, $2, $6 }' |
  while read -r mode owner path; do
    case "$mode" in
    d*) want=drwxr-xr-x ;;
    l*) want=lrwxrwxrwx ;;
    *) want=-rw-r--r-- ;;
    esac
    [ "$owner $mode" = "root/root $want" ] ||
      fail "$(basename "$ddeb"): $path is $mode $owner, not $want root/root"
  done
for f in usr/lib/quillmar/quillmar usr/lib/quillmar/wcserver \
  usr/lib/quillmar/libdunzip.so usr/lib/quillmar/quillmar.state \
  usr/share/quillmar/Help/Manual.htm usr/share/doc/quillmar/copyright \
  usr/share/doc/quillmar/changelog.gz usr/share/man/man1/quillmar.1.gz \
  usr/share/man/man1/wcserver.1.gz lib/systemd/system/quillmar-nightly.service \
  lib/systemd/system/quillmar-nightly.timer; do
  grep -q " \./$f$" "$work/contents" || fail "no /$f in the package"
done
! grep -E ' \./(opt|etc|var|home|srv)/' "$work/contents" ||
  fail "the package ships files outside /usr and /lib"

root=$work/root
dpkg -x "$deb" "$root"
lib=$root/usr/lib/quillmar
for f in quillmar wcserver; do
  [ "$(readlink "$root/usr/bin/$f")" = "../lib/quillmar/$f" ] ||
    fail "/usr/bin/$f is not the relative link into /usr/lib/quillmar"
done
[ -f "$lib/Help/Manual.htm" ] || fail "the manual is not found beside the program"
[ "$(grep -v '^#' "$lib/quillmar.state")" = /var/lib/quillmar ] ||
  fail "quillmar.state: $(cat "$lib/quillmar.state")"
# Stripped and hardened as Debian builds: position-independent, relocations
# read-only and bound at start, stack protector and fortified functions;
# the debugging information in the debug symbols package, by build ID.
debug=$(dpkg-deb -c "$ddeb")
for f in quillmar wcserver libdunzip.so; do
  elf=$(file -b "$lib/$f"; readelf -hlW --dyn-syms "$lib/$f")
  grep -q ', stripped' <<<"$elf" || fail "$f is not stripped"
  id=$(readelf -nW "$lib/$f" | sed -n 's/.*Build ID: \([0-9a-f]*\).*/\1/p')
  grep -q " \./usr/lib/debug/\.build-id/${id:0:2}/${id:2}\.debug$" <<<"$debug" ||
    fail "no debugging information of $f (build ID $id) in $(basename "$ddeb")"
  grep -q 'Type:.*DYN' <<<"$elf" || fail "$f is not PIE"
  grep -q GNU_RELRO <<<"$elf" || fail "$f has no RELRO"
  readelf -dW "$lib/$f" | grep -E 'BIND_NOW|FLAGS.*NOW' >/dev/null ||
    fail "$f: no bindnow"
  grep -q __stack_chk_fail <<<"$elf" || fail "$f has no stack protector"
  [ "$f" = libdunzip.so ] || grep -qE '__[a-z]+_chk@' <<<"$elf" ||
    fail "$f calls no fortified function"
done

# The timer is the one registered unit; the service is bounded and
# hardened.
units=$root/lib/systemd/system
service=$units/quillmar-nightly.service
grep -q '^ExecStart=/usr/bin/quillmar nightly.cfg$' "$service" || fail "service"
grep -q '^WorkingDirectory=/var/lib/quillmar$' "$service" || fail "service folder"
grep -q '^TimeoutStartSec=' "$service" || fail "service timeout"
grep -q '^OnCalendar=' "$units/quillmar-nightly.timer" || fail "timer"
if command -v systemd-analyze >/dev/null; then
  score=$(systemd-analyze security --offline=yes "$service" 2>/dev/null |
    sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
  awk -v s="$score" 'BEGIN { exit !(s != "" && s < 3) }' ||
    fail "systemd-analyze security: exposure $score, not under 3"
  echo "  (systemd-analyze security: $score)"
fi
# Disabled: nothing links the units into a target.
[ ! -e "$root/etc" ] || fail "the package ships /etc: $(find "$root/etc")"

# The archive is a bare program directory.
listing=$(tar -tzf "$tgz" | sort)
for f in quillmar wcserver libdunzip.so Help/Manual.htm; do
  grep -qx "quillmar-[^/]*/$f" <<<"$listing" || fail "no $f in $tgz"
done
! grep -E '/(usr|lib|opt)/|quillmar.state' <<<"$listing" ||
  fail "system paths in $tgz"
took "files and units"

# --- The maintainer scripts, inside scratch roots -------------------------------
service_uid=61001 member_uid=61002 gid=61000
control=$work/control
dpkg-deb -e "$deb" "$control"
for s in postinst prerm postrm; do
  sh -n "$control/$s" || fail "$s does not parse"
done
stubs=$work/stubs
mkdir -p "$stubs/mail"
calls=$work/calls
cat >"$stubs/getent" <<EOF
#!/bin/sh
case "\$1 \$2" in
"passwd quillmar") echo "quillmar:x:$service_uid:$gid::\${STUB_HOME:-/var/lib/quillmar}:/usr/sbin/nologin" ;;
"group quillmar") echo "quillmar:x:$gid:" ;;
*) exec /usr/bin/getent "\$@" ;;
esac
EOF
for c in adduser addgroup usermod deluser delgroup deb-systemd-helper \
  deb-systemd-invoke systemctl; do
  printf '#!/bin/sh\necho "%s $*" >>%s\n' "$c" "$calls" >"$stubs/$c"
done
# cron's mail, kept where the test reads it.
cat >"$stubs/mail/mail" <<'EOF'
#!/bin/sh
while getopts s: opt; do subject=$OPTARG; done
shift $((OPTIND - 1))
{ printf 'To: %s\nSubject: %s\n\n' "$*" "$subject"; cat; } >"$MAILLOG"
EOF
chmod 755 "$stubs"/* "$stubs/mail/mail"
maintainer() { # ROOT SCRIPT ARGS...
  local r=$1 s=$2
  shift 2
  DPKG_ROOT=$r PATH=$stubs:$PATH sh "$control/$s" "$@"
}
mode_of() { stat -c '%a %u:%g' "$1"; }

# An upgrade from 1.1: the sysop's files in /opt/quillmar come over once,
# byte for byte with owners and modes, never over a file already there.
up=$work/upgrade
old=$up/opt/quillmar
mkdir -p "$old/host/files" "$old/Temp" "$old/.cache" "$old/Help" "$up/var/lib"
printf '[Server]\r\nHome=/srv/bbs/host\r\n' >"$old/wcsrv.ini"
printf '[FileCHK]\r\x00\xff binary job' >"$old/nightly.cfg"
printf 'Created on: old\r\n' >"$old/nightly.err"
printf 'old Login.err\r\n' >"$old/Login.err"
printf 'SQLite format 3\x00 index' >"$old/quillmar.db"
printf '[General]\r\n' >"$old/quillmar.ini"
printf 'a host database' >"$old/host/wchost.db"
for f in quillmar wcserver libdunzip.so Temp/x.diz; do echo package >"$old/$f"; done
chown "$member_uid:$gid" "$old/nightly.cfg" "$old/quillmar.db"
chmod 640 "$old/wcsrv.ini"
chmod 600 "$old/nightly.cfg"
chmod 664 "$old/nightly.err"
# Reinstalled after a removal: a state folder with the sysop's own settings.
mkdir -m 2770 "$up/var/lib/quillmar"
printf '[General]\r\nkept\r\n' >"$up/var/lib/quillmar/quillmar.ini"
# A copy cut short (the disk filled up) fails the configure and leaves no
# part of the file, so the configure dpkg retries carries it whole.
mkdir "$work/full"
cat >"$work/full/cp" <<'EOF'
#!/bin/sh
for last; do :; done
case "$last" in
*nightly.cfg*) head -c 3 "$2" >"$last"; exit 1 ;;
*) exec /bin/cp "$@" ;;
esac
EOF
chmod 755 "$work/full/cp"
! PATH=$work/full:$PATH STUB_HOME=/opt/quillmar maintainer "$up" postinst \
  configure 1.1 >/dev/null 2>&1 || fail "upgrade: a failed copy went unnoticed"
[ -z "$(find "$up/var/lib/quillmar" -name '*nightly.cfg*')" ] ||
  fail "upgrade: a copy cut short stayed: $(ls -a "$up/var/lib/quillmar")"
# The user of 1.1 had the program directory as its home.
STUB_HOME=/opt/quillmar maintainer "$up" postinst configure 1.1 >"$work/upgrade.log"
grep -qx 'usermod --home /var/lib/quillmar quillmar' "$calls" ||
  fail "upgrade: the user's home stays /opt/quillmar"
new=$up/var/lib/quillmar
for f in wcsrv.ini nightly.cfg nightly.err Login.err quillmar.db; do
  cmp -s "$old/$f" "$new/$f" || fail "upgrade: $f was not carried byte for byte"
  [ "$(mode_of "$old/$f")" = "$(mode_of "$new/$f")" ] ||
    fail "upgrade: $f is $(mode_of "$new/$f"), was $(mode_of "$old/$f")"
done
[ "$(cat "$new/quillmar.ini")" = "$(printf '[General]\r\nkept\r')" ] ||
  fail "upgrade replaced the quillmar.ini already in the state folder"
[ "$(readlink "$new/host")" = /opt/quillmar/host ] || fail "upgrade: host not linked"
for f in quillmar wcserver libdunzip.so Temp Help .cache; do
  [ ! -e "$new/$f" ] || fail "upgrade carried the package's or scratch $f"
done
grep -q 'now in /var/lib/quillmar' "$work/upgrade.log" || fail "upgrade says nothing"
grep -q 'ReadWritePaths=/srv/bbs/host$' "$work/upgrade.log" ||
  fail "upgrade does not say the service needs the host: $(cat "$work/upgrade.log")"
printf 'later\n' >"$old/later.cfg"
printf 'changed' >"$old/nightly.err"
maintainer "$up" postinst configure 1.2 >/dev/null
[ ! -e "$new/later.cfg" ] && [ "$(cat "$new/nightly.err")" != changed ] ||
  fail "a second configure carried /opt/quillmar again"
# Purge: the state, the cache, user, group and the timer's link go; the
# host the state folder linked to stays.
mkdir -p "$up/var/cache/quillmar"
: >"$calls"
maintainer "$up" postrm purge
[ ! -e "$new" ] && [ ! -e "$up/var/cache/quillmar" ] || fail "purge left the state"
[ -f "$old/host/wchost.db" ] || fail "purge removed the host"
for c in "deb-systemd-helper purge quillmar-nightly.timer" \
  "deluser --system --quiet quillmar" "delgroup --system --quiet"; do
  grep -q "^$c" "$calls" || fail "purge did not run: $c"
done
# A host kept inside the state folder stays through a purge.
mkdir -p "$new/bbs/host" && printf 'db' >"$new/bbs/host/wchost.db"
touch "$new/nightly.cfg"
maintainer "$up" postrm purge 2>/dev/null
[ -f "$new/bbs/host/wchost.db" ] && [ ! -e "$new/nightly.cfg" ] ||
  fail "purge with a host inside the state folder"

# A fresh install into the scratch root the docs run in.
: >"$calls"
maintainer "$root" postinst configure ""
[ "$(stat -c '%a %u:%g' "$root/var/lib/quillmar")" = "2770 0:$gid" ] ||
  fail "state folder: $(stat -c '%a %u:%g' "$root/var/lib/quillmar")"
grep -q '^deb-systemd-helper update-state quillmar-nightly.timer' "$calls" ||
  fail "postinst does not register the timer"
took "maintainer scripts"

if [ "$(id -u)" -ne 0 ]; then
  echo "package test: the commands of the README and the manual run as other" \
    "users, which needs root; skipped"
  echo "package test passed (in part)"
  exit 0
fi

# --- The docs' commands, as written ----------------------------------------------
mkdir -p "$work/sysop" "$work/home" "$root/srv/bbs"
cp "$deb" "$work/sysop/"
# The demo's host, as root made it, and its job, as the tool saved it.
python3 "$source/scripts/make_demo.py" --host "$root/usr/bin/wcserver" \
  "$root/srv/bbs/host" "$root/srv/bbs" >/dev/null
mv "$root/srv/bbs/nightly.cfg" "$work/sysop/"
chown "$member_uid:$((gid + 3))" "$work/sysop" "$work/home"
chmod 700 "$work/home"
python3 "$source/tests/package_docs.py" "$root" "$work" "$source" "$deb" \
  "$control" "$stubs" "$service_uid" "$member_uid" "$gid"
took "docs' commands"

# Removing keeps the state; a purge takes it.
maintainer "$root" prerm remove
maintainer "$root" postrm remove
[ -d "$root/var/lib/quillmar" ] || fail "remove took the state"
maintainer "$root" postrm purge
[ ! -e "$root/var/lib/quillmar" ] && [ -f "$root/srv/bbs/host/wchost.db" ] ||
  fail "purge after the docs' runs"
echo "  (package test: $((SECONDS - began)) s)"
echo "package test passed"
