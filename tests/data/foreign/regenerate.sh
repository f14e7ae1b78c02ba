#!/usr/bin/env bash
# Writes the Perl XBase and GDAL tables of this folder again with those writers (Debian's
# libdbd-xbase-perl and gdal-bin, which scripts/deps.sh installs). The xbase64 table is a kept
# copy: Debian's xbase64 writes broken headers on amd64.
# usage: regenerate.sh [OUTDIR]   (default: this folder)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$(mkdir -p "${1:-$here}" && cd "${1:-$here}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The same three rows in cp866 (driver 0x26) and cp1251 (driver 0xC9); the second memo spans
# several 512-byte blocks. XBase writes the year byte as year % 100, which readers must bear.
write_perl() { # DIR NAME CODEPAGE DRIVER
  mkdir -p "$out/$1"
  rm -f "$out/$1/$2".dbf "$out/$1/$2".dbt
  # From inside the folder: the memo header keeps the table name as given.
  (cd "$out/$1" && perl -MXBase -MEncode=encode -e '
    my ($path, $page, $driver) = @ARGV;
    my $t = XBase->create(name => $path, version => 0x0B, codepage => $driver,
        field_names => [qw(NAME QTY PRICE BORN ACTIVE NOTES)],
        field_types => [qw(C N F D L M)],
        field_lengths => [30, 6, 20, 8, 1, 10], field_decimals => [0, 0, 4, 0, 0, 0])
      or die XBase->errstr;
    my $long = join "", map { "Строка $_ длинного мемо. " } 1 .. 60;
    my @rows = (["Иванов Пётр", 12, 3.5, "19991231", 1, "Короткая заметка"],
                ["Ёжик в тумане", -7, 1234.5678, "20240229", 0, $long],
                ["ascii only", 0, 0, "20000101", 1, undef]);
    for my $i (0 .. $#rows) {
      my @r = @{$rows[$i]};
      $_ = defined $_ ? encode($page, Encode::decode_utf8($_), Encode::FB_CROAK) : $_ for @r[0, 5];
      $t->set_record($i, @r) or die $t->errstr;
    }
    $t->close;
  ' "$2.dbf" "$3" "$4")
}
write_perl perl-cp866 t866 cp866 38
write_perl perl-cp1251 t1251 cp1251 201

# GDAL leaves the header's driver byte 0 and names the code page in a .cpg file instead.
printf 'NAME,QTY\nИванов,12\nЁлка,-7\n' >"$work/o_CP866.csv"
mkdir -p "$out/gdal-cpg"
rm -f "$out/gdal-cpg/o_CP866".{dbf,cpg}
ogr2ogr -f "ESRI Shapefile" -lco ENCODING=CP866 "$work/shp" "$work/o_CP866.csv"
cp "$work/shp/o_CP866.dbf" "$work/shp/o_CP866.cpg" "$out/gdal-cpg/"
