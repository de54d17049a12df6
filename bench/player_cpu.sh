#!/usr/bin/env bash
# player_cpu.sh: the live player's own CPU use while it plays in real time.
# The benchmark scores (build-bench/write_scores) are played by
# `tunecast --tocar` through SDL's disk driver into /dev/null, paced as a
# sound card would pull them (one 1024-frame buffer every 23 ms); the CPU
# time the process used (user + sys) is divided by the time it played.
#
#   bench/player_cpu.sh
#
# TUNECAST_BUILD names the build directory holding tunecast (build/ beside
# bench/ by default), BENCH_BUILD the one holding write_scores (build-bench/).
set -u -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
tool=${TUNECAST_BUILD:-$here/../build}/tunecast
write_scores=${BENCH_BUILD:-$here/../build-bench}/write_scores
for program in "$tool" "$write_scores"; do
  [[ -x $program ]] || { echo "player_cpu: falta $program (compila antes)" >&2; exit 1; }
done
"$tool" --version | grep -q '^tocar: SDL2' || { echo "player_cpu: tunecast sin SDL2" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$write_scores" "$work/bench.wad" >/dev/null

# song, then the passes that make about half a minute of it
for song in "D_TYPICL 1" "D_DENSE 2" "D_REAL 1"; do
  read -r lump passes <<<"$song"
  TIMEFORMAT='%U %S %R'
  times=$({ time SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null ZARN_SYNTH=1 \
    "$tool" -q --tocar "$work/bench.wad" "$lump" -v "$passes" >/dev/null 2>&1; } 2>&1)
  read -r user sys real <<<"$times"
  awk -v lump="$lump" -v u="$user" -v s="$sys" -v r="$real" 'BEGIN {
    printf "%-9s %6.1f s played, CPU %5.2f s: %4.1f%% of one core\n", lump, r, u + s, 100 * (u + s) / r
  }'
done
