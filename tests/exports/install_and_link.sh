#!/usr/bin/env bash
# Usage: install_and_link.sh <build dir> <C compiler> <C++ compiler> [flags...]
# The program is C; it is linked by the C++ driver because the library is
# C++ inside (and a sanitizer build needs the C++ parts of its runtime).
# Installs into a temporary prefix and builds a small C program against the
# installed libraries through pkg-config.
set -euo pipefail
build=$1
cc=$2
cxx=$3
shift 3
flags=("$@")
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(find "$prefix" -name 'QM_Reader.pc' -printf '%h\n' | head -n1)
export PKG_CONFIG_PATH=$libdir
cat > "$prefix/main.c" <<'C'
#include <kx_core.h>
#include <qm_transport.h>
#include <stdio.h>
#include <string.h>
int main(void) {
  char version[16] = {0};
  CoreConfigure(KX_CFG_VERSION, version);
  if (strcmp(version, "10.1.3.14") != 0) return 1;
  puts("linked");
  return 0;
}
C
# shellcheck disable=SC2046
"$cc" "${flags[@]}" -c -o "$prefix/main.o" "$prefix/main.c" $(pkg-config --cflags QM_Reader tool)
# shellcheck disable=SC2046
"$cxx" "${flags[@]}" -o "$prefix/main" "$prefix/main.o" $(pkg-config --libs QM_Reader tool) \
  -Wl,-rpath,"$(dirname "$libdir")"
LD_LIBRARY_PATH=$(dirname "$libdir") "$prefix/main" | grep -q linked
ls "$(dirname "$libdir")"/libQM_Reader.so.* >/dev/null
ls "$(dirname "$libdir")"/libtool.so.* >/dev/null
