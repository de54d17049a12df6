#!/bin/sh
# man_pages_test.sh PAGE...: each manual page formats without a single
# warning, through groff (-ww: every warning) and through man, as a reader's
# man would format it. Exits 77 (skipped) without groff.
command -v groff >/dev/null 2>&1 || exit 77
status=0
for page in "$@"; do
  if [ ! -s "$page" ]; then
    echo "$page: no such page" >&2
    status=1
    continue
  fi
  # -k: the page is UTF-8, which preconv hands to troff as escapes, as man does.
  warnings=$(
    groff -k -man -Tutf8 -ww -z "$page" 2>&1
    if command -v man >/dev/null 2>&1; then
      LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null
    fi
  )
  if [ -n "$warnings" ]; then
    printf '%s:\n%s\n' "$page" "$warnings" >&2
    status=1
  fi
done
exit $status
