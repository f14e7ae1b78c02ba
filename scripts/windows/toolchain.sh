#!/usr/bin/env bash
# Makes the Windows libraries the program needs, from Debian's source packages only, with Debian's
# MinGW-w64, into a prefix outside the checkout keyed by the versions; a prefix already made is
# reused (each library has its stamp, so an interrupted run goes on where it stopped).
#   scripts/windows/toolchain.sh            makes it (or says it is there) and prints the prefix
#   scripts/windows/toolchain.sh --prefix   only prints the prefix it would use
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
source "$here/versions.sh"

if [ "${1:-}" = "--prefix" ]; then
  echo "$MORV_WIN_PREFIX"
  exit 0
fi

[ -n "${MORV_WIN_NO_DEPS:-}" ] || "$here/deps.sh"
P=$MORV_WIN_PREFIX
work=${MORV_WIN_WORK:-/var/tmp/morvanta-win-src}
mkdir -p "$P/.stamps" "$P/lib/pkgconfig" "$P/include" "$P/bin" "$work"
jobs=${MORV_WIN_JOBS:-2}
host=x86_64-w64-mingw32
export CC=$host-gcc-posix CXX=$host-g++-posix AR=$host-ar RANLIB=$host-ranlib RC=$host-windres \
  WINDRES=$host-windres STRIP=$host-strip
export PKG_CONFIG_LIBDIR="$P/lib/pkgconfig" PKG_CONFIG_PATH=""
toolchain_file=$repo/cmake/mingw-w64.cmake
start=$SECONDS

done_() { [ -e "$P/.stamps/$1" ]; }
stamp() { touch "$P/.stamps/$1"; echo "--- $1 done ($((SECONDS - start)) s so far)"; }

# apt with a configuration of our own: a deb-src line for each archive and suite the machine
# uses, our own lists and cache, so the machine's apt setup is never touched.
apt_dir=$work/apt
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/etc/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/etc/parts"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o "Dir::Cache::pkgcache="
  -o "Dir::Cache::srcpkgcache=" -o "APT::Sandbox::User=root")
apt_setup() {
  [ -e "$apt_dir/.updated" ] && return
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/etc/parts"
  : >"$apt_dir/etc/sources.list"
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\(.*debian.*\)$/deb-src \2/p' "$f" \
      >>"$apt_dir/etc/sources.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    # deb822 stanzas: one deb-src line per suite of a "Types: deb" stanza.
    awk 'function flush() { if (deb && uri != "") { n = split(suites, s, " ");
           for (i = 1; i <= n; i++) print "deb-src [signed-by=" key "] " uri " " s[i] " " comps }
           deb = 0; uri = ""; suites = ""; comps = ""; key = "" }
         /^[[:space:]]*$/ { flush(); next }
         /^Types:/ { deb = ($0 ~ /[[:space:]]deb([[:space:]]|$)/) }
         /^URIs:/ { uri = $2 } /^Suites:/ { $1 = ""; suites = $0 } /^Components:/ { $1 = ""; comps = $0 }
         /^Signed-By:/ { key = $2 }
         END { flush() }' "$f" >>"$apt_dir/etc/sources.list"
  done
  grep -q deb-src "$apt_dir/etc/sources.list" || { echo "no Debian archive in the apt sources" >&2; exit 1; }
  apt-get "${apt_opts[@]}" update -q >"$apt_dir/update.log" 2>&1 || { cat "$apt_dir/update.log" >&2; exit 1; }
  touch "$apt_dir/.updated"
}

# Downloads a source package and unpacks its original tarball; prints the unpacked folder.
source_of() {
  local pkg=$1 dir=$work/$1
  if [ ! -e "$dir/.unpacked" ]; then
    apt_setup
    rm -rf "$dir" && mkdir -p "$dir"
    # The newest version first; where an archive (a security one) does not serve its sources,
    # the version of the release itself.
    (cd "$dir" && { apt-get "${apt_opts[@]}" source --download-only -q "$pkg" >download.log 2>&1 ||
      { rm -f ./*.dsc ./*.tar.* && apt-get "${apt_opts[@]}" source --download-only -q "$pkg/$morv_win_suite" \
        >>download.log 2>&1; }; }) || true
    # Some packages are had only as their original tarball (the Debian part is not served).
    ls "$dir"/*.orig.tar.* >/dev/null 2>&1 || { cat "$dir/download.log" >&2; exit 1; }
    local orig
    orig=$(ls "$dir"/*.orig.tar.* | grep -v '\.asc$' | grep -v -- '-[a-z]*\.tar\.' | head -1)
    tar -C "$dir" -xf "$orig"
    touch "$dir/.unpacked"
  fi
  find "$dir" -mindepth 1 -maxdepth 1 -type d | head -1
}

cmake_lib() { # source dir, build dir, extra options
  local src=$1 b=$2
  shift 2
  cmake -S "$src" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" -DMORV_WIN_PREFIX="$P" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$P" -DBUILD_SHARED_LIBS=OFF "$@" >"$b.log" 2>&1 ||
    { tail -40 "$b.log"; exit 1; }
  cmake --build "$b" -j"$jobs" >>"$b.log" 2>&1 && cmake --install "$b" >>"$b.log" 2>&1 ||
    { tail -40 "$b.log"; exit 1; }
}

source "$here/toolchain-libs.sh"

build_qt
build_zlib
build_sqlite
build_sodium
build_openssl
build_xlsxwriter
build_qrencode
build_googletest
build_boost
build_libpq
echo "Windows toolchain ready in $P ($((SECONDS - start)) s)"
