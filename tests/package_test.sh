#!/usr/bin/env bash
# The packages as a sysop gets them: cpack builds the Debian package and the
# archive; the package, unpacked into a scratch root, has the program
# directory, the links on the PATH and the disabled nightly units, and runs
# the demo's nightly job through the link on the PATH.
# package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/quillmar_*.deb)
tgz=$(ls "$work"/out/quillmar-*.tar.gz)

dpkg-deb -f "$deb" Depends | grep -q 'adduser' || fail "Depends: adduser"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "Depends: Qt"
dpkg-deb -I "$deb" postinst | grep -q 'chmod 2775 /opt/quillmar' ||
  fail "postinst"

root="$work/root"
dpkg -x "$deb" "$root"
prog="$root/opt/quillmar"
for f in quillmar wcserver libdunzip.so Help/Manual.htm; do
  [ -f "$prog/$f" ] || fail "no /opt/quillmar/$f in the package"
done
for f in quillmar wcserver; do
  [ "$(readlink "$root/usr/bin/$f")" = "../../opt/quillmar/$f" ] ||
    fail "/usr/bin/$f is not the link into /opt/quillmar"
done
units="$root/lib/systemd/system"
grep -q '^ExecStart=/usr/bin/quillmar nightly.cfg$' \
  "$units/quillmar-nightly.service" || fail "service"
grep -q '^WorkingDirectory=/opt/quillmar$' "$units/quillmar-nightly.service" ||
  fail "service directory"
grep -q '^OnCalendar=' "$units/quillmar-nightly.timer" || fail "timer"
# Disabled: nothing links the units into a target.
[ ! -e "$root/etc" ] || fail "the package ships /etc: $(find "$root/etc")"

# The archive is a bare program directory.
listing=$(tar -tzf "$tgz" | sort)
for f in quillmar wcserver libdunzip.so Help/Manual.htm; do
  grep -qx "quillmar-[^/]*/$f" <<<"$listing" || fail "no $f in $tgz"
done
! grep -E '/(usr|lib|opt)/' <<<"$listing" || fail "system paths in $tgz"

# One run: the demo's job laid into the unpacked program directory, started
# by name through the PATH's link.
python3 "$source/scripts/make_demo.py" --program-dir "$prog" "$work/demo" \
  >/dev/null
out=$(cd "$work" && PATH="$root/usr/bin:$PATH" quillmar nightly.cfg) ||
  fail "quillmar nightly.cfg exited $?: $out"
echo "$out"
grep -qx "Files added: 6, deleted: 0, moved: 0, copied: 0; listings written: 1; problems logged: 2 in $prog/nightly.err" <<<"$out" ||
  fail "summary: $out"
[ -f "$prog/quillmar.ini" ] || fail "no settings in the program directory"
[ -f "$prog/host/files/uploads/STARGAME.ZIP" ] || fail "upload not stored"
echo "package test passed"
