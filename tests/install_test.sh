#!/usr/bin/env bash
# Installs the build into a fresh prefix and uses it as an outside project
# would: the README's C example is built with pkg-config alone and again with
# find_package, and both run on the sample book. On the way it checks the
# library versions, that the private layers stay private, the program's run
# path and the manual page.
#
# install_test.sh BUILD SOURCE VERSION LIBDIR MANDIR CMAKE PKG_CONFIG CC STAND_IN
# (STAND_IN is 1 when the wkhtmltox stand-in is built, 0 when the system's is used)
set -euo pipefail

build=$1 source=$2 version=$3 libdir=$4 mandir=$5 cmake=$6 pkg_config=$7 cc=$8 stand_in=$9
major=${version%%.*}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/bookconv-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# Not the prefix the build was configured for, and nested, so only paths
# relative to the installed files can work.
prefix=$scratch/some/prefix
lib=$prefix/$libdir
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# Runs a command quietly; on failure shows its output and stops.
quietly() {
  local log=$scratch/log
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    echo "FAILED: $*" >&2
    exit 1
  fi
}

quietly "$cmake" --install "$build" --prefix "$prefix"

check_versioned() { # check_versioned NAME: libNAME.so -> .so.MAJOR -> .so.VERSION with that SONAME
  local name=$1
  [[ -f $lib/lib$name.so.$version ]] || fail "no $libdir/lib$name.so.$version"
  [[ $(readlink "$lib/lib$name.so.$major") == "lib$name.so.$version" ]] || fail "lib$name.so.$major is not a link to the full version"
  [[ $(readlink "$lib/lib$name.so") == "lib$name.so.$major" ]] || fail "lib$name.so is not the development link"
  readelf -d "$lib/lib$name.so.$version" | grep -qF "Library soname: [lib$name.so.$major]" ||
    fail "lib$name has no versioned SONAME"
}
check_versioned Tarn_Mobi
check_versioned Tarn_Tool

public=$(find "$lib" "$prefix/include" -maxdepth 1 \( -iname '*wkhtmltox*' -o -iname '*tarn_png*' \) -print)
[[ -z $public ]] || fail "private layers installed publicly: $public"
[[ -f $lib/bookconv/libTarn_Png.so ]] || fail "no private $libdir/bookconv/libTarn_Png.so"
if [[ $stand_in == 1 ]]; then
  [[ -f $lib/bookconv/libwkhtmltox.so ]] || fail "no private $libdir/bookconv/libwkhtmltox.so"
fi

# Where the dynamic linker finds LIBRARY for FILE; every project library must
# come from the installed tree.
resolved() { # resolved FILE LIBRARY
  env -u LD_LIBRARY_PATH ldd "$1" | sed -n "s|^[[:space:]]*$2[^ ]* => \(/[^ ]*\) .*|\1|p"
}
expect_from() { # expect_from FILE LIBRARY FOLDER
  local found
  found=$(resolved "$1" "$2")
  [[ -n $found && $(realpath "$(dirname "$found")") == "$(realpath "$3")" ]] ||
    fail "$(basename "$1") loads $2 from '${found:-nowhere}', not from $3"
}
program=$prefix/bin/bookconv
expect_from "$program" libTarn_Mobi.so "$lib"
expect_from "$program" libTarn_Tool.so "$lib"
expect_from "$program" libTarn_Png.so "$lib/bookconv"
if [[ $stand_in == 1 ]]; then
  expect_from "$program" libwkhtmltox.so "$lib/bookconv"
fi
status=0
env -u LD_LIBRARY_PATH "$program" 2>/dev/null || status=$?
((status == 64)) || fail "the installed bookconv without arguments exited with $status, not 64"

# The README's C example, as a reader would copy it.
example=$scratch/example.c
awk '/^```c$/ { inside = 1; next } inside && /^```$/ { exit } inside' "$source/README.md" >"$example"
[[ -s $example ]] || fail "no C example in the README"

run_example() { # run_example PROGRAM: on the sample book, prints its title
  local folder
  folder=$(mktemp -d "$scratch/run.XXXXXX")
  mkdir "$folder/out"
  cp "$source/samples/bookconv-guide.mobi" "$folder/book.mobi"
  expect_from "$1" libTarn_Mobi.so "$lib"
  local title
  if ! title=$(cd "$folder" && env -u LD_LIBRARY_PATH "$1"); then
    fail "$1 failed on the sample book"
    return
  fi
  [[ $title == "The bookconv guide" ]] || fail "$1 printed '$title'"
  [[ -s $folder/out/book.htm ]] || fail "$1 wrote no out/book.htm"
  [[ -n $(ls "$folder/out/book_files") ]] || fail "$1 wrote no pictures"
}

# With pkg-config alone; only the installed tree is searched.
export PKG_CONFIG_LIBDIR=$lib/pkgconfig
unset PKG_CONFIG_PATH
"$pkg_config" --validate Tarn_Mobi || fail "Tarn_Mobi.pc does not validate"
[[ $("$pkg_config" --modversion Tarn_Mobi) == "$version" ]] || fail "Tarn_Mobi.pc gives another version"
read -ra flags <<<"$("$pkg_config" --cflags --libs Tarn_Mobi)"
libs_at=$("$pkg_config" --variable=libdir Tarn_Mobi)
quietly "$cc" -std=c99 -Wall -Wextra -Werror "$example" -o "$scratch/example-pkg-config" \
  "${flags[@]}" -Wl,--fatal-warnings -Wl,-rpath,"$libs_at"
run_example "$scratch/example-pkg-config"

# With find_package and the imported target.
consumer=$scratch/consumer
mkdir "$consumer"
cp "$example" "$consumer/example.c"
cat >"$consumer/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.22)
project(readme_example C)
find_package(Tarn_Mobi $version REQUIRED)
add_executable(example example.c)
target_link_libraries(example PRIVATE Tarn_Mobi::Tarn_Mobi)
EOF
quietly "$cmake" -S "$consumer" -B "$consumer/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="-std=c99 -Wall -Wextra -Werror" \
  -DCMAKE_EXE_LINKER_FLAGS=-Wl,--fatal-warnings -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
quietly "$cmake" --build "$consumer/build"
run_example "$consumer/build/example"

# The manual page: renders without a warning and is found from the prefix.
page=$prefix/$mandir/man1/bookconv.1
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man cannot render $page"
[[ -z $warnings ]] || fail "man warns: $warnings"
[[ $(MANPATH=$prefix/$mandir man -w bookconv) == "$page" ]] || fail "man bookconv does not find the installed page"

# The README and the page list the same exit codes with the same meanings.
readme_codes() {
  awk -F '|' '/^\| Exit code \| Meaning \|$/ { inside = 1; next }
              inside && !/^\|/ { exit }
              inside && $2 ~ /[0-9]/ { gsub(/^ +| +$/, "", $2); gsub(/^ +| +$/, "", $3); print $2 " " $3 }' \
    "$source/README.md" | tr -d '`'
}
page_codes() {
  awk '/^\.SH/ { inside = ($0 == ".SH EXIT STATUS"); next }
       inside && /^\.TP/ { tag = 1; next }
       inside && tag { code = substr($0, 4); tag = 0; next }
       inside && code != "" { print code " " $0; code = "" }' "$page" | sed 's/\\-/-/g; s/\\f[BIRP]//g'
}
if ! difference=$(diff <(readme_codes) <(page_codes)); then
  fail "README and manual page differ on exit codes:"$'\n'"$difference"
fi
[[ -n $(readme_codes) ]] || fail "no exit codes found in the README"

((failures == 0)) || exit 1
echo "installed tree under $prefix works"
