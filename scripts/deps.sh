#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
#   deps.sh          everything for building and testing (Linux and Windows builds)
#   deps.sh --run    only what building the program and the simulator needs
#   deps.sh --package  what scripts/package.sh needs
# Installs as root (or through sudo); otherwise says what is missing.
set -euo pipefail

packages=(cmake make g++)
if [ -z "${1:-}" ]; then
  packages+=(libgtest-dev libgmock-dev googletest libvterm-dev pkg-config g++-mingw-w64-x86-64-posix wine64)
fi
# Packages (dpkg-shlibdeps needs file) and, in the tests, their checks.
if [ "${1:-}" != "--run" ]; then
  packages+=(dpkg-dev file g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
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
