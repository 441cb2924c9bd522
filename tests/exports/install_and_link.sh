#!/usr/bin/env bash
# Usage: install_and_link.sh <build dir> <C compiler>
# Installs into a temporary prefix and builds a small C program against the
# installed libraries through pkg-config.
set -euo pipefail
build=$1
cc=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(find "$prefix" -name 'QM_Reader.pc' -printf '%h\n' | head -n1)
export PKG_CONFIG_PATH=$libdir
cat > "$prefix/main.c" <<'C'
#include <qm_export.h>
#include <stdio.h>
int main(void) { puts("linked"); return 0; }
C
# shellcheck disable=SC2046
"$cc" -o "$prefix/main" "$prefix/main.c" $(pkg-config --cflags --libs QM_Reader tool) \
  -Wl,-rpath,"$(dirname "$libdir")"
LD_LIBRARY_PATH=$(dirname "$libdir") "$prefix/main" | grep -q linked
ls "$(dirname "$libdir")"/libQM_Reader.so.* >/dev/null
ls "$(dirname "$libdir")"/libtool.so.* >/dev/null
