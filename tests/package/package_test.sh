#!/usr/bin/env bash
# Builds the Debian package from an already built tree with cpack, unpacks it
# into a scratch root with `dpkg -x` and checks what it holds: the program,
# its .desktop file and its icon under /usr, and the control fields.
#
#   package_test.sh <cpack> <CPackConfig.cmake> <program> <version> <source dir> <scratch dir>
set -euo pipefail

cpack=$1
cpack_config=$2
program=$3
version=$4
source_dir=$5
scratch=$6

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_equal() {  # what, expected, actual
  [[ "$2" == "$3" ]] || fail "$1: expected '$2', got '$3'"
}

[[ -x "$program" ]] || { echo "FAIL: $program is not built; build the notepics target first" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch/root"
"$cpack" --config "$cpack_config" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; echo "FAIL: cpack failed" >&2; exit 1; }

architecture=$(dpkg --print-architecture)
deb="$scratch/notepics_${version}_${architecture}.deb"
[[ -f "$deb" ]] || { ls -l "$scratch" >&2; echo "FAIL: no $deb" >&2; exit 1; }

# Control fields.
expect_equal "Package" notepics "$(dpkg-deb -f "$deb" Package)"
expect_equal "Version" "$version" "$(dpkg-deb -f "$deb" Version)"
expect_equal "Architecture" "$architecture" "$(dpkg-deb -f "$deb" Architecture)"
expect_equal "Section" graphics "$(dpkg-deb -f "$deb" Section)"
[[ -n "$(dpkg-deb -f "$deb" Maintainer)" ]] || fail "no Maintainer"
[[ -n "$(dpkg-deb -f "$deb" Description | head -n 1)" ]] || fail "no Description"

# Depends: the runtime packages of Qt 6, libcurl, PCRE2 (16-bit) and ICU, each
# one a package this system knows by that name.
depends=$(dpkg-deb -f "$deb" Depends)
depended=$(tr ',|' '\n' <<<"$depends" | sed -E 's/\(.*\)//; s/^ +//; s/ +$//; /^$/d')
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libcurl4 libpcre2-16-0 'libicu[0-9]+'; do
  grep -Eqx "$needed" <<<"$depended" || fail "Depends lacks $needed: $depends"
done
for package in $depended; do
  dpkg-query -W "$package" >/dev/null 2>&1 || fail "Depends names $package, which dpkg does not know"
done

# Contents: exactly the three files, owned by root.
dpkg -x "$deb" "$scratch/root"
expect_equal "files" "$(printf '%s\n' ./usr/bin/notepics ./usr/share/applications/notepics.desktop \
  ./usr/share/icons/hicolor/scalable/apps/notepics.svg)" \
  "$(cd "$scratch/root" && find . -type f | sort)"
listing=$(dpkg-deb -c "$deb")
owners=$(awk '{ print $2 }' <<<"$listing" | sort -u)
expect_equal "owners" "root/root" "$owners"

# The program: an executable ELF file for this machine, stripped, linked
# against the libraries the Depends line stands for.
binary="$scratch/root/usr/bin/notepics"
[[ -x "$binary" ]] || fail "usr/bin/notepics is not executable"
expect_equal "ELF magic" "7f454c46" "$(head -c 4 "$binary" | od -An -tx1 | tr -d ' \n')"
header=$(readelf -h "$binary")
grep -Eq 'Type: +(EXEC|DYN)' <<<"$header" || fail "usr/bin/notepics is not an ELF program"
expect_equal "ELF machine" "$(readelf -h "$program" | sed -n 's/ *Machine: *//p')" \
  "$(sed -n 's/ *Machine: *//p' <<<"$header")"
sections=$(readelf -S "$binary")
if grep -q '\.symtab' <<<"$sections"; then
  fail "usr/bin/notepics is not stripped"
fi
needed_libraries=$(readelf -d "$binary" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')
for library in libQt6Widgets.so.6 libQt6Core.so.6 libcurl.so.4; do
  grep -qx "$library" <<<"$needed_libraries" || fail "usr/bin/notepics does not load $library"
done

# The menu entry starts the installed program and names the installed icon.
desktop="$scratch/root/usr/share/applications/notepics.desktop"
expect_equal "desktop Type" "Type=Application" "$(grep '^Type=' "$desktop")"
expect_equal "desktop Exec" "Exec=notepics" "$(grep '^Exec=' "$desktop")"
expect_equal "desktop Icon" "Icon=notepics" "$(grep '^Icon=' "$desktop")"
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the .desktop file"
fi
cmp -s "$desktop" "$source_dir/src/app/notepics.desktop" || fail "the .desktop file differs from the source"

icon="$scratch/root/usr/share/icons/hicolor/scalable/apps/notepics.svg"
cmp -s "$icon" "$source_dir/src/app/notepics.svg" || fail "the icon differs from the source"
grep -q '<svg' "$icon" || fail "the icon is not an SVG picture"

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package_test: $(basename "$deb") holds the program, its menu entry and its icon"
