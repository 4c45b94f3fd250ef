#!/usr/bin/env bash
# The release packages as a user gets them: scripts/package.sh builds them
# all, then lintian, the manual-page lint, the .deb installed and run from the
# installed path, hardening-check, the ARM programs under qemu-user, and the
# contents of the Windows zips and the macOS archive.
#   check.sh VERSION WORKDIR
# Installs the .deb for real as root (or through sudo -n) and removes it again
# unless it was installed before; otherwise runs it from the unpacked package.
set -euo pipefail
export LC_ALL=C  # the listings below are compared sorted
version=$1
work=$2
root_dir=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo; echo "== $* (at ${SECONDS} s)"; }

step "scripts/package.sh"
DIST=$work/dist BUILD=$work/build "$root_dir/scripts/package.sh"
deb=$work/dist/tarnwickdialer_${version}_$(dpkg --print-architecture).deb
arm_debs=("$work/dist/tarnwickdialer_${version}_arm64.deb" "$work/dist/tarnwickdialer_${version}_armhf.deb")
zips=("$work/dist/tarnwickdialer-${version}-win64.zip" "$work/dist/tarnwickdialer-${version}-win32.zip")
mac=$work/dist/tarnwickdialer-${version}-macos.tar.gz
for file in "$deb" "${arm_debs[@]}" "${zips[@]}" "$mac"; do
  [ -f "$file" ] || fail "no $file"
done
ls -l "$deb" "${arm_debs[@]}" "${zips[@]}" "$mac"

step "cmake --install"
rm -rf "$work/prefix"
cmake --install "$work/build/linux" --prefix "$work/prefix" >/dev/null
installed=$(cd "$work/prefix" && find . -type f | sort | tr '\n' ' ')
expected="./bin/ecusim ./bin/tarnwickdialer ./lib/systemd/system/tarnwickdialer@.service \
./share/doc/tarnwickdialer/LICENSE ./share/doc/tarnwickdialer/README.md ./share/man/man1/ecusim.1 \
./share/man/man1/tarnwickdialer.1 "
[ "$installed" = "$expected" ] || fail "cmake --install put: $installed"

step "lintian"
code=0
out=$(lintian --fail-on error,warning "$deb" "${arm_debs[@]}" 2>&1 | sed '/running with root privileges/d') || code=$?
echo "${out:-(no tags)}"
[ "$code" -eq 0 ] || fail "lintian"

step "manual pages (groff -ww, mandoc -Tlint)"
rm -rf "$work/unpacked"
dpkg-deb -x "$deb" "$work/unpacked"
for page in tarnwickdialer ecusim; do
  file=$work/unpacked/usr/share/man/man1/$page.1.gz
  lint=$( (zcat "$file" | groff -man -Tutf8 -ww -z) 2>&1; mandoc -Tlint "$file" 2>&1 || true)
  [ -z "$lint" ] || fail "$page.1: $lint"
  echo "$page.1: clean"
done

step "install the .deb"
# One check at a time on a machine: worktrees beside each other share /usr/bin.
exec 9>"${TMPDIR:-/tmp}/tarnwickdialer-package-check.lock"
flock 9
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo -n)
if "${as_root[@]}" true 2>/dev/null; then
  if ! dpkg-query -W -f='${Status}' tarnwickdialer 2>/dev/null | grep -q "install ok installed"; then
    trap '"${as_root[@]}" dpkg --purge tarnwickdialer >/dev/null' EXIT
  fi
  out=$(DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
        -o APT::Sandbox::User=root -o DPkg::Lock::Timeout=300 "$deb" 2>&1) || { echo "$out" >&2; fail "apt-get install"; }
  bin=/usr/bin
else
  echo "not root and no sudo: running from the unpacked package"
  bin=$work/unpacked/usr/bin
fi
export PATH=$bin:$PATH
[ "$(command -v tarnwickdialer)" = "$bin/tarnwickdialer" ] || fail "tarnwickdialer is not $bin/tarnwickdialer"

out=$(tarnwickdialer --version)
[ "$out" = "tarnwickdialer $version" ] || fail "--version printed '$out'"
echo "$out"

# The help screen waits for a key: one comes through the pipe.
code=0
out=$(printf x | timeout 20 tarnwickdialer 2>&1) || code=$?
[ "$code" -eq 1 ] || fail "help screen exit code $code"
grep -q "Usage: tarnwickdialer" <<<"$out" && grep -q "Press a key to continue" <<<"$out" ||
  fail "no help screen: $out"
echo "help screen: shown, exit code 1"

# The installed monitor against the installed simulator: a hardened build
# that aborts (fortify, stack protector) shows here, not in the Debug tests.
code=0
out=$(timeout 30 ecusim --scenario idle -- sh -c '(sleep 3.5; printf q) | tarnwickdialer {port} c' \
      </dev/null 2>&1) || code=$?
grep -q "900 rpm" <<<"$out" && grep -q "13.88 volts" <<<"$out" && [ "$code" -eq 0 ] ||
  fail "monitor against ecusim: exit code $code, output ends: ${out: -600}"
echo "dashboard against ecusim: 900 rpm, 13.88 volts, q quits with 0"

step "hardening-check"
# Control-flow protection needs C start-up files built for it, which
# Debian 12's are not; the program's own code is compiled with it.
hardening-check --nocfprotection "$bin/tarnwickdialer" "$bin/ecusim" || fail "hardening-check"

step "ARM packages under qemu-user"
# The packaged programs, hardened and stripped, against the native simulator.
for arm in arm64:aarch64:aarch64-linux-gnu armhf:arm:arm-linux-gnueabihf; do
  IFS=: read -r arch qemu triplet <<<"$arm"
  root=$work/unpacked-$arch
  rm -rf "$root" && dpkg-deb -x "$work/dist/tarnwickdialer_${version}_$arch.deb" "$root"
  code=0
  out=$(timeout 60 "$bin/ecusim" --scenario idle -- sh -c "(sleep 5; printf q) | \
        qemu-$qemu -L /usr/$triplet $root/usr/bin/tarnwickdialer {port} c" </dev/null 2>&1) || code=$?
  grep -q "900 rpm" <<<"$out" && [ "$code" -eq 0 ] || fail "$arch monitor: exit code $code, output ends: ${out: -600}"
  echo "$arch: $(dpkg-deb -f "$work/dist/tarnwickdialer_${version}_$arch.deb" Architecture)," \
       "900 rpm against ecusim, q quits with 0"
done

step "Windows zips"
for zip in "${zips[@]}"; do
  case $zip in
    *win64.zip) kind="PE32+ executable (console) x86-64" objdump=x86_64-w64-mingw32-objdump ;;
    *) kind="PE32 executable (console) Intel 80386" objdump=i686-w64-mingw32-objdump ;;
  esac
  contents=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
  [ "$contents" = "LICENSE.txt README.txt tarnwickdialer.exe " ] || fail "zip holds: $contents"
  rm -rf "$work/zip" && mkdir -p "$work/zip" && unzip -q "$zip" -d "$work/zip"
  file "$work/zip/tarnwickdialer.exe" | grep -q "$kind" || fail "not a $kind"
  file "$work/zip/README.txt" | grep -q "CRLF" || fail "README.txt without Windows line ends"
  dlls=$($objdump -p "$work/zip/tarnwickdialer.exe" | sed -n 's/.*DLL Name: //p')
  [ -n "$dlls" ] || fail "objdump found no imports"
  echo "$(basename "$zip"): $kind, imports:" $dlls
  others=$(grep -viE '^(kernel32|user32|advapi32|msvcrt|ucrtbase|api-ms-win-.*)\.dll$' <<<"$dlls" || true)
  [ -z "$others" ] || fail "needs DLLs beyond the system's: $others"
done

step "macOS archive"
top=tarnwickdialer-$version-macos
contents=$(tar -tzf "$mac" | grep -v '/$' | sort | tr '\n' ' ')
expected="$top/LICENSE $top/README.md $top/arm64/ecusim $top/arm64/tarnwickdialer $top/man/ecusim.1 \
$top/man/tarnwickdialer.1 $top/x86_64/ecusim $top/x86_64/tarnwickdialer "
[ "$contents" = "$expected" ] || fail "the macOS archive holds: $contents"
rm -rf "$work/mac" && mkdir -p "$work/mac" && tar -xzf "$mac" -C "$work/mac"
for arch in arm64 x86_64; do
  for program in tarnwickdialer ecusim; do
    file "$work/mac/$top/$arch/$program" | grep -q "Mach-O 64-bit.* $arch executable" ||
      fail "$arch/$program: $(file -b "$work/mac/$top/$arch/$program")"
  done
done
echo "arm64 and x86_64: Mach-O executables"

echo
echo "packages: all checks passed"
