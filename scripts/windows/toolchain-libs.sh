# Sourced by toolchain.sh: one function per library, each skipped when its stamp is there.

# Qt base: the tarball of the same version in ../shared/toolchains when its checksum matches,
# else built from Debian's qt6-base source as that tarball's README says (about 40 min, 2 cores).
build_qt() {
  done_ qt && return
  local shared=${MORV_WIN_SHARED:-$repo/../shared/toolchains}
  [ -d "$shared" ] || shared=/work/shared/toolchains
  local tarball=$shared/$MORV_WIN_QT_TARBALL
  if [ -f "$tarball" ] && echo "$MORV_WIN_QT_SHA256  $tarball" | sha256sum -c --quiet - 2>/dev/null; then
    rm -rf "$P/qt6-mingw"
    tar -C "$P" -xf "$tarball"
    echo "--- qt unpacked from $tarball"
  else
    local src
    src=$(source_of qt6-base)
    # Debian's source lacks the tablet headers the Windows plugin includes; Debian's wine
    # source has them.
    if [ ! -f "$src/src/3rdparty/wintab/wintab.h" ]; then
      local wine
      wine=$(source_of wine)
      mkdir -p "$src/src/3rdparty/wintab"
      {
        printf '#include <windows.h>\n#ifndef WINELIB_NAME_AW\n# ifdef UNICODE\n#  define WINELIB_NAME_AW(func) func##W\n'
        printf '# else\n#  define WINELIB_NAME_AW(func) func##A\n# endif\n#endif\n#ifndef DECL_WINELIB_TYPE_AW\n'
        printf '# define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;\n#endif\n'
        printf '#ifndef API\n# define API WINAPI\n#endif\n'
        cat "$wine/include/wintab.h"
      } >"$src/src/3rdparty/wintab/wintab.h"
      cp "$wine/include/pktdef.h" "$src/src/3rdparty/wintab/"
    fi
    cmake_lib "$src" "$work/qt-build" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
      -DCMAKE_INSTALL_PREFIX="$P/qt6-mingw" -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
      -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_opengl=ON -DFEATURE_vulkan=OFF -DINPUT_openssl=no \
      -DFEATURE_system_zlib=OFF
  fi
  stamp qt
}

build_zlib() {
  done_ zlib && return
  local src
  src=$(source_of zlib)
  # Debian's source has no Windows makefile; the library is its top-level C files.
  local b=$work/zlib-build f
  rm -rf "$b" && mkdir -p "$b"
  for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees trees \
    uncompr zutil; do
    $CC -O2 -D_LARGEFILE64_SOURCE=1 -c "$src/$f.c" -o "$b/$f.o"
  done
  rm -f "$P/lib/libz.a"
  $AR rcs "$P/lib/libz.a" "$b"/*.o
  cp "$src/zlib.h" "$src/zconf.h" "$P/include/"
  printf 'prefix=%s\nlibdir=${prefix}/lib\nincludedir=${prefix}/include\nName: zlib\nDescription: zlib\nVersion: 1\nLibs: -L${libdir} -lz\nCflags: -I${includedir}\n' \
    "$P" >"$P/lib/pkgconfig/zlib.pc"
  stamp zlib
}

# SQLite's source tree makes its one-file amalgamation with the host's compiler and tclsh.
build_sqlite() {
  done_ sqlite && return
  local src b=$work/sqlite-build
  src=$(source_of sqlite3)
  rm -rf "$b" && mkdir -p "$b"
  (cd "$b" && CC=gcc "$src/configure" >"$work/sqlite.log" 2>&1 && make sqlite3.c >>"$work/sqlite.log" 2>&1) ||
    { tail -20 "$work/sqlite.log"; exit 1; }
  $CC -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_DEFAULT_FOREIGN_KEYS=0 \
    -c "$b/sqlite3.c" -o "$b/sqlite3.o"
  rm -f "$P/lib/libsqlite3.a"
  $AR rcs "$P/lib/libsqlite3.a" "$b/sqlite3.o"
  cp "$b/sqlite3.h" "$b/sqlite3ext.h" "$P/include/"
  stamp sqlite
}

autotools_lib() { # name, source dir, configure options
  local name=$1 src=$2 b=$work/$1-build
  shift 2
  rm -rf "$b" && mkdir -p "$b"
  # Some original tarballs are the bare repository: make their configure first.
  [ -x "$src/configure" ] || (cd "$src" && autoreconf -fi >"$work/$name-autoreconf.log" 2>&1) ||
    { tail -30 "$work/$name-autoreconf.log"; exit 1; }
  (cd "$b" && "$src/configure" --host=$host --prefix="$P" --disable-shared --enable-static "$@" \
    >"$work/$name.log" 2>&1 && make -j"$jobs" >>"$work/$name.log" 2>&1 && make install >>"$work/$name.log" 2>&1) ||
    { tail -30 "$work/$name.log"; exit 1; }
}

build_sodium() {
  done_ sodium && return
  local src
  src=$(source_of libsodium)
  autotools_lib sodium "$src"
  # A static libsodium must not be declared as imported from a DLL.
  sed -i 's/^Cflags: \(.*\)$/Cflags: \1 -DSODIUM_STATIC/' "$P/lib/pkgconfig/libsodium.pc"
  stamp sodium
}

build_xlsxwriter() {
  done_ xlsxwriter && return
  local src
  src=$(source_of libxlsxwriter)
  # Its own MD5 has OpenSSL's function names, which collide at a static link with libpq's OpenSSL:
  # it uses OpenSSL's instead (so OpenSSL is built first).
  cmake_lib "$src" "$work/xlsxwriter-build" -DZLIB_ROOT="$P" -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
    -DUSE_OPENSSL_MD5=ON -DOPENSSL_ROOT_DIR="$P" -DOPENSSL_USE_STATIC_LIBS=ON
  # The static library needs zlib and OpenSSL's libcrypto at the program's link.
  printf 'prefix=%s\nlibdir=${prefix}/lib\nincludedir=${prefix}/include\nName: xlsxwriter\nDescription: xlsx\nVersion: 1\nLibs: -L${libdir} -lxlsxwriter -lcrypto -lz -lws2_32 -lcrypt32 -lgdi32 -luser32 -ladvapi32\nCflags: -I${includedir}\n' \
    "$P" >"$P/lib/pkgconfig/xlsxwriter.pc"
  stamp xlsxwriter
}

build_qrencode() {
  done_ qrencode && return
  local src
  src=$(source_of qrencode)
  cmake_lib "$src" "$work/qrencode-build" -DWITH_TOOLS=OFF -DWITHOUT_PNG=ON -DWITH_TESTS=OFF
  printf 'prefix=%s\nlibdir=${prefix}/lib\nincludedir=${prefix}/include\nName: libqrencode\nDescription: QR\nVersion: 4\nLibs: -L${libdir} -lqrencode\nCflags: -I${includedir}\n' \
    "$P" >"$P/lib/pkgconfig/libqrencode.pc"
  stamp qrencode
}

build_googletest() {
  done_ googletest && return
  local src
  src=$(source_of googletest)
  cmake_lib "$src" "$work/googletest-build" -Dgtest_disable_pthreads=OFF
  stamp googletest
}

# Boost.Beast and Asio are headers; Debian's headers are the same for every target.
build_boost() {
  done_ boost && return
  if [ -d /usr/include/boost ] && dpkg -s libboost1.74-dev >/dev/null 2>&1; then
    rm -rf "$P/include/boost"
    cp -r /usr/include/boost "$P/include/"
  else
    local src
    src=$(source_of boost1.74)
    cp -r "$src/boost" "$P/include/"
  fi
  stamp boost
}

build_openssl() {
  done_ openssl && return
  local src b=$work/openssl-build
  src=$(source_of openssl)
  rm -rf "$b" && mkdir -p "$b"
  (cd "$b" && "$src/Configure" mingw64 no-shared no-tests --prefix="$P" --libdir=lib \
    >"$work/openssl.log" 2>&1 && make -j"$jobs" build_libs >>"$work/openssl.log" 2>&1 &&
    make install_dev >>"$work/openssl.log" 2>&1) || { tail -30 "$work/openssl.log"; exit 1; }
  stamp openssl
}

# libpq alone from PostgreSQL's source: configure for Windows, then only the client library and
# the two helper libraries it is linked with.
build_libpq() {
  done_ libpq && return
  local src b=$work/libpq-build
  src=$(source_of postgresql-15)
  rm -rf "$b" && mkdir -p "$b"
  # Some original tarballs are the bare repository: make their configure first.
  [ -x "$src/configure" ] || (cd "$src" && autoreconf -fi >"$work/libpq-autoreconf.log" 2>&1) ||
    { tail -30 "$work/libpq-autoreconf.log"; exit 1; }
  (cd "$b" && "$src/configure" --host=$host --prefix="$P" --with-ssl=openssl --without-readline --without-zlib \
    --without-icu --without-llvm CPPFLAGS="-I$P/include" LDFLAGS="-L$P/lib" LIBS="-lws2_32 -lcrypt32 -lgdi32 -luser32 -ladvapi32" \
    >"$work/libpq.log" 2>&1 && make -C src/backend generated-headers >>"$work/libpq.log" 2>&1 &&
    make -C src/port -j"$jobs" >>"$work/libpq.log" 2>&1 && make -C src/common -j"$jobs" >>"$work/libpq.log" 2>&1 &&
    make -C src/interfaces/libpq -j"$jobs" >>"$work/libpq.log" 2>&1) || { tail -30 "$work/libpq.log"; exit 1; }
  # On Windows PostgreSQL's libpq.a is the import library of libpq.dll: the static library is
  # made of the objects themselves (without the DLL's version resource).
  # Its own small pthread functions for Windows get names of their own: linked statically under
  # their usual names they would take the place of winpthread's for the whole program, whose
  # mutexes are of another kind.
  local objs=$work/libpq-objs
  rm -rf "$objs" && mkdir -p "$objs"
  cp $(ls "$b"/src/interfaces/libpq/*.o | grep -v win32ver.o) "$objs/"
  $host-nm "$objs/pthread-win32.o" | awk '$2 == "T" { print $3, "pq_" $3 }' >"$objs/renames"
  local o
  for o in "$objs"/*.o; do $host-objcopy --redefine-syms="$objs/renames" "$o"; done
  rm -f "$P/lib/libpq.a"
  $AR rcs "$P/lib/libpq.a" "$objs"/*.o
  cp "$b/src/common/libpgcommon_shlib.a" "$b/src/port/libpgport_shlib.a" "$P/lib/"
  cp "$src/src/interfaces/libpq/libpq-fe.h" "$src/src/interfaces/libpq/libpq-events.h" \
    "$b/src/include/pg_config_ext.h" "$src/src/include/postgres_ext.h" "$P/include/"
  printf 'prefix=%s\nlibdir=${prefix}/lib\nincludedir=${prefix}/include\nName: libpq\nDescription: PostgreSQL client\nVersion: 15\nLibs: -L${libdir} -lpq -lpgcommon_shlib -lpgport_shlib -lssl -lcrypto -lsecur32 -lws2_32 -lcrypt32 -lgdi32 -luser32 -ladvapi32 -lwldap32 -lshell32\nCflags: -I${includedir}\n' \
    "$P" >"$P/lib/pkgconfig/libpq.pc"
  stamp libpq
}
