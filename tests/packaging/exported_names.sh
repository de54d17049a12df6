#!/usr/bin/env bash
# exported_names.sh LIBRARY HEADER...: the names LIBRARY (a shared library,
# or a Windows DLL read with the objdump that OBJDUMP names)
# exports are exactly the functions and variables its public HEADERs
# declare: no internal name leaks out to be replaced by a program's own,
# and no public one is missing. Prints both differences when they are not.
set -euo pipefail
library=${1:?usage: exported_names.sh LIBRARY HEADER...}
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The headers without their comments and directives, one declaration per
# line: a function's name is the word just before its "(" (typedefs left
# out), a variable's the last word of an extern line.
for header in "$@"; do
  cc -fpreprocessed -dD -E -P -x c "$header"
done | grep -v '^#' | tr '\n' ' ' | tr ';{}' '\n' >"$work/declarations"
{
  grep -v typedef "$work/declarations" | grep -oE '[A-Za-z_][A-Za-z0-9_]*\(' | tr -d '(' || true
  grep -E '(^| )extern ' "$work/declarations" | grep -v '"C"' |
    sed -E 's/\[[^]]*\]//g; s/ *$//' | grep -oE '[A-Za-z_][A-Za-z0-9_]*$' || true
} | sort -u >"$work/declared"

# A Windows DLL lists its exports in a table of the PE header.
case "$library" in
  *.dll)
    "${OBJDUMP:-objdump}" -p "$library" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
      tail -n +2 | sed -nE 's/^.*\] ([A-Za-z_][A-Za-z0-9_]*)$/\1/p'
    ;;
  *) nm -D --defined-only --format=posix "$library" | awk '{ print $1 }' ;;
esac | sort -u >"$work/exported"

if ! cmp -s "$work/declared" "$work/exported"; then
  echo "$(basename "$library") exports names its headers do not declare (>) or lacks declared ones (<):"
  diff "$work/declared" "$work/exported" | grep '^[<>]'
  exit 1
fi
echo "$(basename "$library"): $(wc -l <"$work/exported") names, all declared by $*"
