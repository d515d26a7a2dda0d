#!/bin/sh
# Builds the Debian package build/package/kelvox_<version>_amd64.deb with
# CPack from a release build with Debian's hardening flags, then checks it
# with lintian (any error fails the script).
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
build=build/package-build
out=$(pwd)/build/package

# The compiler and linker flags a Debian package is built with (hardening:
# stack protector, fortified functions, read-only relocations, bind now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CFLAGS CXXFLAGS LDFLAGS

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DKELVOX_TESTS=OFF -DKELVOX_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"

rm -f "$out"/kelvox_*.deb
(cd "$build" && cpack -B "$out" >/dev/null)
deb=$(ls "$out"/kelvox_*_amd64.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Maintainer Depends
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "lintian: no errors"
