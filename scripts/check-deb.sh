#!/usr/bin/env bash
# Builds the Debian package from the build tree, installs it on THIS machine with
# dpkg -i, checks that it made Quillmoss the RAR handler (and, when the build has the
# RAR writer and libunrar, that the installed program extracts an archive), removes it
# with dpkg -r and checks that nothing it added is left, then purges dpkg's record. Changes the system: run it by
# hand, as root, never from ctest. Exit code 0 only when every check passed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"

[[ $(id -u) -eq 0 ]] || { echo "check-deb: run as root (dpkg -i)" >&2; exit 2; }
if dpkg-query -W -f='${Status}' quillmoss 2>/dev/null | grep -q 'install ok installed'; then
  echo "check-deb: quillmoss is already installed here; remove it first (dpkg -r quillmoss)" >&2
  exit 2
fi

failures=0
pass() { echo "PASS  $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

"$root/scripts/build.sh" >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/quillmoss_*.deb | head -n 1)
echo "package: $deb"
dpkg-deb -f "$deb" Package Version Depends | sed 's/^/        /'

scratch=$(mktemp -d /tmp/quillmoss-check-deb-XXXXXX)
installed_by_us=0
cleanup() {
  if [[ $installed_by_us -eq 1 ]]; then dpkg -P quillmoss >/dev/null 2>&1 || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# Everything the package or its scripts may touch, listed with each file's checksum.
watched=(/usr/bin /usr/lib/quillmoss /usr/share/applications /usr/share/icons/hicolor
  /usr/share/kio /usr/share/quillmoss /usr/share/mime /etc/xdg /var/lib/quillmoss)
snapshot() {
  local dir
  for dir in "${watched[@]}"; do
    [[ -e $dir ]] || continue
    find "$dir" -xdev \( -type f -exec md5sum {} + \) -o \( ! -type f -printf '%y %p\n' \)
  done | LC_ALL=C sort
}
# A desktop session's view: no user settings, only what the system says.
session() {
  env -i HOME="$scratch/home" PATH=/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR="$scratch/run" "$@"
}
mkdir -p "$scratch/home" "$scratch/run" && chmod 700 "$scratch/run"

snapshot >"$scratch/before"

if dpkg -i "$deb" >"$scratch/dpkg-i.log" 2>&1; then
  installed_by_us=1
  pass "dpkg -i $(basename "$deb")"
else
  fail "dpkg -i $(basename "$deb")"
  cat "$scratch/dpkg-i.log"
  exit 1
fi

check "/usr/bin/quillmoss is a relative link to /usr/lib/quillmoss/quillmoss" \
  test "$(readlink /usr/bin/quillmoss)" = ../lib/quillmoss/quillmoss
check "the program in /usr/lib/quillmoss" test -x /usr/lib/quillmoss/quillmoss
for file in "$build"/bin/*; do
  case $(basename "$file") in
    quillmoss | folder.txt | silent.txt | password.txt | skin.bmp | noskin.bmp) continue ;;
    # The package's libraries are stripped copies.
    *.so) check "beside it: $(basename "$file")" test -f "/usr/lib/quillmoss/$(basename "$file")" ;;
    *) check "beside it: $(basename "$file")" cmp -s "$file" "/usr/lib/quillmoss/$(basename "$file")" ;;
  esac
done
check "desktop-file-validate /usr/share/applications/quillmoss.desktop" \
  desktop-file-validate /usr/share/applications/quillmoss.desktop
for type in application/vnd.rar application/x-rar application/x-rar-compressed; do
  answer=$(session xdg-mime query default "$type" || true)
  check "xdg-mime query default $type -> ${answer:-nothing}" test "$answer" = quillmoss.desktop
done
if command -v gio >/dev/null; then
  answer=$(session gio mime application/vnd.rar 2>/dev/null | head -n 1 || true)
  check "GIO's default for application/vnd.rar: ${answer:-nothing}" \
    grep -q 'quillmoss.desktop' <<<"$answer"
fi
check "icon in the hicolor theme" test -f /usr/share/icons/hicolor/48x48/apps/quillmoss.png
check "Dolphin service menu installed" test -x /usr/share/kio/servicemenus/quillmoss-extract.desktop

writer="$build/tests/bin/rarwriter_cli"
if [[ -x $writer && -f /usr/lib/quillmoss/libunrar.so ]]; then
  mkdir -p "$scratch/from/docs" "$scratch/archive"
  echo "Hello from the Debian package" >"$scratch/from/hello.txt"
  echo "A file in a folder" >"$scratch/from/docs/readme.txt"
  "$writer" --from "$scratch/from" "$scratch/archive/sample.rar" >/dev/null
  (cd "$scratch" && session QT_QPA_PLATFORM=offscreen timeout 60 quillmoss "$scratch/archive/sample.rar") \
    >"$scratch/run.log" 2>&1 || true
  check "the installed program, started by name, extracts beside the archive" \
    cmp -s "$scratch/from/docs/readme.txt" "$scratch/archive/docs/readme.txt"
else
  echo "SKIP  extraction by the installed program: this build has no rarwriter_cli or libunrar"
fi

if dpkg -r quillmoss >"$scratch/dpkg-r.log" 2>&1; then
  installed_by_us=0
  pass "dpkg -r quillmoss"
else
  fail "dpkg -r quillmoss"
  cat "$scratch/dpkg-r.log"
fi
check "dpkg lists the package as removed" \
  bash -c "dpkg-query -W -f='\${Status}' quillmoss | grep -q -E ' (not-installed|config-files)\$'"
snapshot >"$scratch/after"
if diff -u "$scratch/before" "$scratch/after" >"$scratch/diff"; then
  pass "everything the package added is gone; watched files unchanged: ${watched[*]}"
else
  fail "the system differs after dpkg -r:"
  cat "$scratch/diff"
fi
answer=$(session xdg-mime query default application/vnd.rar || true)
check "after removal xdg-mime names no quillmoss entry (${answer:-nothing})" \
  test "$answer" != quillmoss.desktop

# dpkg keeps a removed package that has a postrm as "config-files" until it is purged.
if dpkg -P quillmoss >"$scratch/dpkg-P.log" 2>&1; then
  pass "dpkg -P quillmoss"
else
  fail "dpkg -P quillmoss"
  cat "$scratch/dpkg-P.log"
fi
check "after purging dpkg knows nothing of the package" \
  bash -c "! dpkg-query -W -f='\${Status}' quillmoss 2>/dev/null | grep -q -v not-installed"
snapshot >"$scratch/purged"
check "purging changed nothing else" diff -q "$scratch/before" "$scratch/purged"

if [[ $failures -eq 0 ]]; then
  echo "check-deb: all checks passed"
else
  echo "check-deb: $failures check(s) failed"
  exit 1
fi
