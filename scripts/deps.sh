#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages the build, the tests and the benchmarks need, if missing;
# extra package names may be given (the fuzz script adds clang).
set -euo pipefail
pkgs=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev libsqlite3-dev
      fonts-dejavu-core fonts-liberation xvfb xauth python3 python3-dbfread libshp-dev
      libdbd-xbase-perl gdal-bin desktop-file-utils appstream dpkg-dev file poppler-utils pkg-config
      libxlsxwriter-dev pspp python3-openpyxl libpq-dev postgresql libsodium-dev
      libboost-dev chromium chromium-driver python3-selenium r-cran-psych r-cran-erm r-cran-psychotools ccache
      libqrencode-dev zbar-tools time haproxy python3-pyatspi at-spi2-core dbus "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# npm comes with some builds of node itself; Debian's package only where it is missing.
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get -o DPkg::Lock::Timeout=300 update -q
  $sudo apt-get -o DPkg::Lock::Timeout=300 install -y -q "${missing[@]}"
fi
# axe-core, the accessibility rules the browser tests run in chromium, pinned, into build/node_modules
# (the browser tests look there and skip their accessibility checks without it).
axe_version=4.10.3
build="$(cd "$(dirname "$0")/.." && pwd)/build"
if ! grep -qs "\"version\": \"$axe_version\"" "$build/node_modules/axe-core/package.json"; then
  mkdir -p "$build"
  npm install --prefix "$build" --no-save --no-package-lock --no-audit --no-fund "axe-core@$axe_version" ||
    echo "axe-core could not be installed: the browser tests will skip their accessibility checks" >&2
fi
