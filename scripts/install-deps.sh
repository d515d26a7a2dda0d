#!/bin/sh
# Installs every Debian package that building, testing and running Kelvox need,
# but only when something is missing (so a warm machine pays nothing).
set -eu

PACKAGES="
  build-essential cmake ninja-build pkg-config ccache
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev libxkbcommon-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libteem-dev teem-apps libnifti2-dev python3-nibabel python3-numpy zlib1g-dev pigz
  xvfb xauth xdotool imagemagick x11-utils
  fonts-dejavu-core fontconfig
  python3 groff-base desktop-file-utils appstream dpkg-dev lintian
"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done

if [ -n "$missing" ]; then
  echo "install-deps: installing:$missing"
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages and not root; run as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  # shellcheck disable=SC2086
  apt-get install -y --no-install-recommends $missing
fi
