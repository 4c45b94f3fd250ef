#!/usr/bin/env bash
# Builds the release packages into dist/:
#   tarnwickdialer_<version>_<arch>.deb    Debian: the monitor and ecusim (hardened), manual pages
#   tarnwickdialer-<version>-win64.zip     Windows: tarnwickdialer.exe (static), README.txt, LICENSE.txt
# from Release builds in build-package/. DIST and BUILD, when set, choose other folders.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --package

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
package "$build/linux" tarnwickdialer ecusim

cmake -S . -B "$build/windows" "${release[@]}" \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
package "$build/windows" tarnwickdialer
