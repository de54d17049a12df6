#!/bin/sh
# The page's browser test as part of the suite, when this machine has what
# it needs: Debian's chromium, the locked packages (npm ci in this folder)
# and the web build. Anything missing is a skip (77), as .ci/run installs
# them all and runs the test itself.
# Usage: page_test.sh TOOL MAKE_DEMO WEB_DIR
set -eu
dir=$(cd "$(dirname "$0")" && pwd)
[ -x /usr/bin/chromium ] && [ -d "$dir/node_modules/puppeteer-core" ] &&
  [ -f "$3/tunecast.mjs" ] || exit 77
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$2" "$scratch/demo.wad"
cd "$dir"
TUNECAST_TOOL=$1 TUNECAST_DEMO_WAD=$scratch/demo.wad TUNECAST_WEB_DIR=$3 \
  TUNECAST_WEB_LOG_DIR=${TUNECAST_WEB_LOG_DIR:-$scratch} node --test page.test.mjs
