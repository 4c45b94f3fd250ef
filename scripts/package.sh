#!/usr/bin/env bash
# Builds the release packages into dist/:
#   tarnwickdialer_<version>_<arch>.deb    Debian amd64 (this machine's), arm64 and armhf: the monitor
#                                          and ecusim (hardened), manual pages, a systemd unit
#   tarnwickdialer-<version>-win64.zip     Windows: tarnwickdialer.exe (static), README.txt, LICENSE.txt
#   tarnwickdialer-<version>-win32.zip     the same for 32-bit Windows (7 and later)
#   tarnwickdialer-<version>-macos.tar.gz  macOS: arm64/ and x86_64/ programs, README.md, LICENSE, man pages
# from Release builds in build-package/. DIST and BUILD, when set, choose other folders.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --package
zig=$(scripts/deps.sh --zig)

dist=$(mkdir -p "${DIST:-dist}" && cd "${DIST:-dist}" && pwd)
build=${BUILD:-build-package}
jobs=$(nproc 2>/dev/null || echo 2)
# Only the programs are built; cpack then installs without building the rest.
release=(-DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)

package() {  # build dir, targets...
  local dir=$1; shift
  cmake --build "$dir" -j"$jobs" --target "$@" >/dev/null
  rm -f "$dir"/*.deb "$dir"/*.zip
  (cd "$dir" && cpack >cpack.log 2>&1) || { cat "$dir/cpack.log" >&2; exit 1; }
  for file in "$dir"/*.deb "$dir"/*.zip; do
    if [ -e "$file" ]; then
      mv -f "$file" "$dist/"
      echo "$dist/$(basename "$file")"
    fi
  done
}

cmake -S . -B "$build/linux" "${release[@]}" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
native_deb=$(package "$build/linux" tarnwickdialer ecusim)
echo "$native_deb"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/linux/CMakeCache.txt")

# Linux on ARM, with the native package's dependencies (packaging.cmake).
depends=$(dpkg-deb -f "$native_deb" Depends)
for target in arm64:aarch64-linux-gnu armhf:arm-linux-gnueabihf; do
  cmake -S . -B "$build/${target%%:*}" "${release[@]}" -DCMAKE_INSTALL_PREFIX=/usr \
        -DCMAKE_TOOLCHAIN_FILE=cmake/linux-cross.cmake -DTD_TRIPLET="${target#*:}" \
        -DTD_DEB_DEPENDS="$depends" >/dev/null
  package "$build/${target%%:*}" tarnwickdialer ecusim
done

for bits in x86_64:64 i686:32; do
  cmake -S . -B "$build/windows${bits#*:}" "${release[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-${bits%%:*}.cmake" >/dev/null
  package "$build/windows${bits#*:}" tarnwickdialer
done

# macOS: both processors side by side, built with zig; what Apple's tar
# and Finder unpack as they are.
name=tarnwickdialer-$version-macos
stage=$build/macos/$name
rm -rf "$stage" && mkdir -p "$stage/man"
for arch in arm64:aarch64 x86_64:x86_64; do
  dir=$build/macos/${arch%%:*}
  cmake -S . -B "$dir" "${release[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/zig-macos.cmake \
        -DTD_ZIG="$zig" -DTD_MACOS_ARCH="${arch#*:}" >/dev/null
  cmake --build "$dir" -j"$jobs" --target tarnwickdialer ecusim >/dev/null
  mkdir -p "$stage/${arch%%:*}"
  cp "$dir/tarnwickdialer" "$dir/ecusim" "$stage/${arch%%:*}/"
done
cp README.md LICENSE "$stage/"
cp "$build/macos/arm64/man/"*.1 "$stage/man/"
tar -C "$build/macos" --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime="@$(git log -1 --format=%ct 2>/dev/null || echo 0)" -cf - "$name" |
  gzip -9n >"$dist/$name.tar.gz"
echo "$dist/$name.tar.gz"
