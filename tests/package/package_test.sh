#!/usr/bin/env bash
# Builds the Debian package from an already built tree with cpack, unpacks it
# into a scratch root with `dpkg -x` and checks what it holds: the program,
# its .desktop file and its icon under /usr, and the control fields. Then
# installs the same tree with `cmake --install` under another prefix and
# checks the menu entry there, and that the install manifest removes it all.
#
#   package_test.sh <cpack> <CPackConfig.cmake> <program> <version> <source dir> <scratch dir>
#                   <cmake> <build dir>
set -euo pipefail

cpack=$1
cpack_config=$2
program=$3
version=$4
source_dir=$5
scratch=$6
cmake=$7
build_dir=$8

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

# cpack and cmake --install both write the build tree's install manifest:
# the one of a developer's own install is put back at the end.
manifest="$build_dir/install_manifest.txt"
if [[ -f "$manifest" ]]; then
  cp -p "$manifest" "$scratch/kept_manifest.txt"
  trap 'mv -f "$scratch/kept_manifest.txt" "$manifest"' EXIT
else
  trap 'rm -f "$manifest"' EXIT
fi
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

# Depends: the runtime packages of Qt 6, libcurl, PCRE2 (16-bit) and ICU; the
# toolkit's SVG plugins (the icon) and Chinese translation (qtbase_zh_CN); and
# a font with the Chinese characters, as a list of alternatives.
depends=$(dpkg-deb -f "$deb" Depends)
groups=$(tr ',' '\n' <<<"$depends" | sed -E 's/\([^)]*\)//g; s/  +/ /g; s/^ +//; s/ +$//; /^$/d')
depended=$(tr '|' '\n' <<<"$groups" | sed -E 's/^ +//; s/ +$//')
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libcurl4 libpcre2-16-0 'libicu[0-9]+' \
  libqt6svg6 qt6-translations-l10n; do
  grep -Eqx "$needed" <<<"$groups" || fail "Depends lacks $needed: $depends"
done
grep -Eqx 'fonts-wqy-microhei( \| [a-z0-9-]+)*' <<<"$groups" &&
  grep -Eq '(^| )fonts-noto-cjk( |$)' <<<"$groups" ||
  fail "Depends lacks the Chinese fonts as alternatives: $depends"
# Each group is met on this machine (scripts/setup installs the same), so the
# names are real ones.
while read -r group; do
  met=0
  for package in ${group//|/ }; do
    [[ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" == "install ok installed" ]] && met=1
  done
  ((met)) || fail "no package of '$group' is installed here"
done <<<"$groups"
[[ -f /usr/share/qt6/translations/qtbase_zh_CN.qm ]] || fail "qt6-translations-l10n lacks qtbase_zh_CN"

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

# The menu entry starts the installed program by its absolute path and names
# the installed icon; desktop-file-validate has nothing to say about it.
check_desktop_file() {  # file, expected Exec value
  local desktop=$1 exec=$2
  expect_equal "desktop Type" "Type=Application" "$(grep '^Type=' "$desktop")"
  expect_equal "desktop Exec" "Exec=$exec" "$(grep '^Exec=' "$desktop")"
  expect_equal "desktop Icon" "Icon=notepics" "$(grep '^Icon=' "$desktop")"
  local report
  report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate rejects $desktop"
  [[ -z "$report" ]] || fail "desktop-file-validate: $report"
  diff <(grep -v '^Exec=' "$source_dir/src/app/notepics.desktop.in") <(grep -v '^Exec=' "$desktop") \
    >/dev/null || fail "$desktop differs from the source beyond its Exec line"
}
command -v desktop-file-validate >/dev/null 2>&1 ||
  fail "desktop-file-validate is not installed (desktop-file-utils; scripts/setup installs it)"
check_desktop_file "$scratch/root/usr/share/applications/notepics.desktop" /usr/bin/notepics

icon="$scratch/root/usr/share/icons/hicolor/scalable/apps/notepics.svg"
cmp -s "$icon" "$source_dir/src/app/notepics.svg" || fail "the icon differs from the source"
grep -q '<svg' "$icon" || fail "the icon is not an SVG picture"

# cmake --install under a prefix that is on nobody's PATH, with a blank in it:
# the menu entry names the program there, quoted. Removing what the install
# manifest lists (the README's uninstall step) leaves no file behind.
prefix="$scratch/my tools"
"$cmake" --install "$build_dir" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }
[[ -x "$prefix/bin/notepics" ]] || fail "cmake --install did not install bin/notepics"
check_desktop_file "$prefix/share/applications/notepics.desktop" "\"$prefix/bin/notepics\""
grep -qx "$prefix/share/applications/notepics.desktop" "$manifest" ||
  fail "the install manifest lacks the .desktop file"
xargs -d '\n' rm -f <"$manifest"
expect_equal "files left after the uninstall step" "" "$(find "$prefix" -type f)"

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package_test: $(basename "$deb") holds the program, its menu entry and its icon;" \
  "cmake --install places a menu entry that names the program"
