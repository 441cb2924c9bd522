#!/usr/bin/env bash
# Usage: install_and_link.sh <build dir> <source dir> <C compiler> <C++ compiler> [flags...]
# Installs into a temporary prefix, moves the installed tree (it must be
# relocatable), and builds two C programs against it, once through
# pkg-config and once through find_package(QM_Reader): a link check, and the
# README's example exactly as written there, as C99 with the public headers.
# The programs are C; they are linked by the C++ driver because the library
# is C++ inside (and a sanitizer build needs the C++ parts of its runtime).
set -euo pipefail
build=$1
source=$2
cc=$3
cxx=$4
shift 4
flags=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/staged" >/dev/null
mv "$work/staged" "$work/prefix"
prefix=$work/prefix
libdir=$(find "$prefix" -name 'QM_Reader.pc' -printf '%h\n' | head -n1)
libdir=$(dirname "$libdir")
ls "$libdir"/libQM_Reader.so.* "$libdir"/libtool.so.* >/dev/null
# The digest library is loaded by its plain name from libtool.so's folder.
test -f "$libdir/libqolbic.so"
cmp "$build/generated/70-qm-reader.rules" "$prefix/lib/udev/rules.d/70-qm-reader.rules"

src=$work/src
mkdir "$src"
cat > "$src/linked.c" <<'C'
#include <kx_core.h>
#include <qm_reader.h>
#include <qm_transport.h>
#include <stdio.h>
#include <string.h>
#include <tool.h>
int main(void) {
  char version[16] = {0};
  CoreConfigure(KX_CFG_VERSION, version);
  if (strcmp(version, "10.1.3.14") != 0) return 1;
  const uint8_t bytes[2] = {0x12, 0xAB};
  char text[8] = "";
  if (qm_hex_a(bytes, text, 2) != 0 || strcmp(text, "12AB") != 0) return 1;
  TimeRecord from = {0}, to = {0};
  from.year = to.year = 2020;
  from.month = 2, from.day = 28;
  to.month = 3, to.day = 1;
  int days = 0;
  if (Tool_TimeGetDays(from, to, &days) != 0 || days != 2) return 1;
  puts("linked");
  return 0;
}
C
# The fenced C block between the README's example markers.
awk '/^<!-- use-example end -->$/ { inside = 0 }
     inside && !/^```/ { print }
     /^<!-- use-example begin -->$/ { inside = 1 }' "$source/README.md" > "$src/example.c"
grep -q 'kx_init' "$src/example.c"
warnings=(-std=c99 -Wall -Wextra -Werror)

# The example may find a reader or not; either way it ends by itself with
# its own exit status, 0 or 1.
run_both() {
  "$1/linked" | grep -q linked
  local status=0
  timeout 60 "$1/example" >/dev/null 2>&1 || status=$?
  if (( status > 1 )); then
    echo "example ended with status $status" >&2
    return 1
  fi
}

# pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
mkdir "$work/pc"
for prog in linked example; do
  # shellcheck disable=SC2046
  "$cc" "${flags[@]}" "${warnings[@]}" -c -o "$work/pc/$prog.o" "$src/$prog.c" \
    $(pkg-config --cflags QM_Reader tool)
  # shellcheck disable=SC2046
  "$cxx" "${flags[@]}" -o "$work/pc/$prog" "$work/pc/$prog.o" \
    $(pkg-config --libs QM_Reader tool) -Wl,-rpath,"$libdir"
done
run_both "$work/pc"

# CMake package
cat > "$src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(use_qm_reader C CXX)
set(CMAKE_C_STANDARD 99)
set(CMAKE_C_EXTENSIONS OFF)
find_package(QM_Reader 10 REQUIRED)
foreach(prog IN ITEMS linked example)
  add_executable(${prog} ${prog}.c)
  target_link_libraries(${prog} PRIVATE QM_Reader::QM_Reader QM_Reader::tool)
  target_compile_options(${prog} PRIVATE -Wall -Wextra -Werror)
  set_target_properties(${prog} PROPERTIES LINKER_LANGUAGE CXX)
endforeach()
CMAKE
cmake -S "$src" -B "$work/cm" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_C_FLAGS="${flags[*]}" -DCMAKE_CXX_FLAGS="${flags[*]}" \
  -DCMAKE_EXE_LINKER_FLAGS="${flags[*]}" >/dev/null
cmake --build "$work/cm" >/dev/null
run_both "$work/cm"
echo "installed, linked through pkg-config and CMake, README example built"
