#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages the build, the tests and the benchmarks need, if missing;
# extra package names may be given (the fuzz script adds clang).
set -euo pipefail
pkgs=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev libsqlite3-dev
      fonts-dejavu-core fonts-liberation xvfb xauth python3 python3-dbfread libshp-dev
      libdbd-xbase-perl gdal-bin desktop-file-utils appstream dpkg-dev file poppler-utils pkg-config
      libxlsxwriter-dev pspp python3-openpyxl libpq-dev postgresql libsodium-dev
      libboost-dev chromium chromium-driver python3-selenium r-cran-psych r-cran-erm r-cran-psychotools ccache libqrencode-dev zbar-tools time haproxy "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get -o DPkg::Lock::Timeout=300 update -q
$sudo apt-get -o DPkg::Lock::Timeout=300 install -y -q "${missing[@]}"
