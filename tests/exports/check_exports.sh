#!/usr/bin/env bash
# Usage: check_exports.sh <shared library> <version script>
# Fails when the library defines a dynamic symbol that the version script's
# global patterns do not allow, when a name the script lists whole is not
# defined, or when it depends on OpenSSL or on the QR libraries the tests
# compare with.
set -euo pipefail
lib=$1
map=$2
patterns=$(sed -n '/global:/,/local:/p' "$map" | grep -v -e 'global:' -e 'local:' \
  | tr -d ' ;\t' | grep -v '^$' || true)
bad=0
declare -A defined=()
while read -r _ type name; do
  [[ -z "${name:-}" ]] && continue
  [[ "$type" == "A" ]] && continue          # version node
  name=${name%%@*}
  defined[$name]=1
  ok=0
  for p in $patterns; do
    # shellcheck disable=SC2053
    if [[ "$name" == $p ]]; then ok=1; break; fi
  done
  if [[ $ok == 0 ]]; then echo "unexpected export: $name"; bad=1; fi
done < <(nm -D --defined-only "$lib")
for p in $patterns; do
  [[ "$p" == *[*?[]* ]] && continue           # a pattern, not one name
  if [[ -z "${defined[$p]:-}" ]]; then echo "missing export: $p"; bad=1; fi
done
if readelf -d "$lib" | grep -E 'NEEDED.*(libssl|libcrypto)'; then
  echo "links OpenSSL"; bad=1
fi
# The QR libraries are test and benchmark oracles only.
if readelf -d "$lib" | grep -E 'NEEDED.*(libqrencode|libqrcodegen)'; then
  echo "links a QR oracle library"; bad=1
fi
exit $bad
