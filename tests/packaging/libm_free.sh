#!/usr/bin/env bash
# libm_free.sh LIBRARY...: no LIBRARY (static or shared) calls the C
# library's sin, cos, exp or pow, or a variant of them: the synthesizer's
# samples take those from src/maths, so they are the same on every platform.
# Prints the calls it finds.
set -euo pipefail
status=0
for library in "$@"; do
  case "$library" in
    *.so | *.so.*) undefined=$(nm -D -u --format=posix "$library") ;;
    *) undefined=$(nm -u --format=posix "$library") ;;
  esac
  calls=$(awk '{ sub(/@.*/, "", $1); print $1 }' <<<"$undefined" |
    grep -E '^_*(sin|cos|sincos|exp|exp2|expm1|pow)(f|l)?(_finite)?$' | sort -u || true)
  if [[ -n "$calls" ]]; then
    echo "$(basename "$library") calls the C library's maths:" $calls
    status=1
  fi
done
[[ $status -eq 0 ]] && echo "no call to the C library's sin, cos, exp or pow in: $(for l in "$@"; do basename "$l"; done | tr '\n' ' ')"
exit $status
