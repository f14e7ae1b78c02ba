# Sourced by the Windows scripts: the versions the toolchain is keyed by, and its prefix.
MORV_WIN_QT_VERSION=6.4.2
MORV_WIN_QT_TARBALL=qt6-base-6.4.2-mingw-w64-x86_64.tar.xz
MORV_WIN_QT_SHA256=7f4f8d279af704ffd82154cc6ae4eb6b11c0d7922afc49c827477830b6a354ca
# Raised when the recipe of a library changes, so an older prefix is not taken for this one.
MORV_WIN_RECIPE=1
morv_win_gcc=$(x86_64-w64-mingw32-gcc-posix -dumpversion 2>/dev/null || echo none)
morv_win_suite=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-unknown}")
MORV_WIN_KEY=qt$MORV_WIN_QT_VERSION-gcc$morv_win_gcc-$morv_win_suite-r$MORV_WIN_RECIPE
MORV_WIN_PREFIX=${MORV_WIN_TOOLCHAIN:-/opt/morvanta-win/$MORV_WIN_KEY}
export MORV_WIN_PREFIX
