#!/bin/sh
# run_with_shell.sh SHELL SCRIPT ARG...: runs SCRIPT with SHELL, or exits 77
# (skipped) when SHELL is not installed.
shell=$1
shift
command -v "$shell" >/dev/null 2>&1 || exit 77
exec "$shell" "$@"
