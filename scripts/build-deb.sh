#!/usr/bin/env bash
# Builds the Debian packages lua-quelto-internal and lua-quelto-internal-dev
# from a clean copy of the sources (the files git knows of), with Debian's
# tools, and checks them with lintian: any error fails.
#   scripts/build-deb.sh OUT_DIR [JOBS]
# OUT_DIR receives the .deb files, the .changes and .buildinfo, and src/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:?usage: $0 OUT_DIR [JOBS]}" && cd "$1" && pwd)
jobs=${2:-$(nproc)}

rm -rf "$out/src" "$out"/*.deb "$out"/*.changes "$out"/*.buildinfo
mkdir -p "$out/src"
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$root" ls-files -z --cached --others --exclude-standard |
    tar -C "$root" --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$out/src" -xf -
else
  tar -C "$root" --exclude='./build*' -cf - . | tar -C "$out/src" -xf -
fi

# Binary packages only: the source package would want an upstream tarball.
(cd "$out/src" && DEB_BUILD_OPTIONS="parallel=$jobs" dpkg-buildpackage -b -us -uc)
lintian --fail-on error "$out"/*.changes
ls "$out"/*.deb
