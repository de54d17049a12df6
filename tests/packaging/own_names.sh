#!/usr/bin/env bash
# own_names.sh CXX SOURCE STATIC_LIBRARY...: builds SOURCE, an engine
# defining names of its own, with every object of each static library
# (--whole-archive: whatever part of a library an engine ends up using),
# then runs it. A name both define fails the link.
set -euo pipefail
cxx=${1:?usage: own_names.sh CXX SOURCE STATIC_LIBRARY...}
source=${2:?usage: own_names.sh CXX SOURCE STATIC_LIBRARY...}
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
include=$(cd "$(dirname "$0")/../../include" && pwd)
"$cxx" -std=c++20 -I"$include" "$source" -Wl,--whole-archive "$@" -Wl,--no-whole-archive \
  -o "$work/engine"
"$work/engine"
