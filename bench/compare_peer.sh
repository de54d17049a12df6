#!/usr/bin/env bash
# compare_peer.sh: the tool's speed on Standard MIDI files against WildMIDI's.
# Each file is wrapped as a MIDI lump in a WAD (build/make_wad) and rendered
# once through by `tunecast -v 1`, and by `wildmidi -o OUT.wav -r 44100`;
# each is run 3 times (or as --runs says) and the median CPU time (user +
# sys) kept. Prints the song, its length, both real-time factors (seconds of
# audio, read from the WAV each wrote, per second of CPU) and their ratio,
# then a summary: the median and worst ratio and how many songs are below 1.0.
#
#   bench/compare_peer.sh [--tunecast-only] [--stereo] [--runs N]
#                         [--game-songs DIR] [FILE.mid...]
#
# TUNECAST_BUILD names the build directory holding tunecast and make_wad
# (build/ beside bench/ by default). --tunecast-only measures the tool alone
# when wildmidi is not installed. --stereo renders with `tunecast --estereo`
# (wildmidi writes stereo anyway). --game-songs takes the songs that
# write_game_songs wrote into DIR (its gs*.mid files), after any FILE given.
set -u -o pipefail

runs=3

fail() {
  echo "compare_peer: $*" >&2
  exit 1
}

usage="uso: compare_peer.sh [--tunecast-only] [--stereo] [--runs N] [--game-songs DIRECTORIO] [FICHERO.mid...]"
tunecast_only=0
stereo=()
songs_dir=
while (($# > 0)); do
  case $1 in
    --tunecast-only) tunecast_only=1 ;;
    --stereo) stereo=(--estereo) ;;
    --runs)
      (($# > 1)) || fail "$usage"
      [[ $2 =~ ^[1-9][0-9]?$ ]] || fail "--runs pide un número de 1 a 99: $2"
      runs=$2
      shift
      ;;
    --game-songs)
      (($# > 1)) || fail "$usage"
      songs_dir=$2
      shift
      ;;
    --) shift; break ;;
    -*) fail "opción desconocida: $1 ($usage)" ;;
    *) break ;;
  esac
  shift
done
files=("$@")
if [[ -n $songs_dir ]]; then
  [[ -d $songs_dir ]] || fail "no existe el directorio: $songs_dir"
  shopt -s nullglob
  found=("$songs_dir"/gs*.mid)
  shopt -u nullglob
  ((${#found[@]} > 0)) || fail "no hay canciones gs*.mid en $songs_dir (escríbelas con write_game_songs)"
  files+=("${found[@]}")
fi
((${#files[@]} > 0)) || fail "$usage"
for f in "${files[@]}"; do
  [[ -f $f && -r $f ]] || fail "no existe o no se puede leer: $f"
done

build=${TUNECAST_BUILD:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}
tunecast=$build/tunecast
make_wad=$build/make_wad
[[ -x $tunecast ]] || fail "falta $tunecast (compílalo, o da el directorio en TUNECAST_BUILD)"
[[ -x $make_wad ]] || fail "falta $make_wad (compílalo, o da el directorio en TUNECAST_BUILD)"
if ((!tunecast_only)) && ! command -v wildmidi > /dev/null; then
  fail "wildmidi no está en el PATH: instálalo con 'apt-get install wildmidi' (o usa --tunecast-only)"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/compare_peer.XXXXXX") || fail "no se puede crear un directorio temporal"
trap 'rm -rf -- "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Little-endian 32-bit number at byte offset $2 of file $1.
u32_at() {
  od -An -tu4 -j "$2" -N4 -- "$1" | tr -d ' '
}

# Seconds of audio in a PCM WAV file: the data chunk's size over the fmt
# chunk's byte rate, found by walking the chunks (a data size of 0 or
# 0xFFFFFFFF, as a streaming writer leaves it, means "to the end of file").
wav_seconds() {
  local file=$1 size pos id len rate=0 data=-1
  size=$(stat -c %s -- "$file") || return 1
  [[ $(head -c 4 -- "$file") == RIFF ]] || return 1
  pos=12
  while ((pos + 8 <= size)); do
    id=$(od -An -c -j "$pos" -N4 -- "$file" | tr -d ' ')
    len=$(u32_at "$file" $((pos + 4)))
    if [[ $id == "fmt" ]]; then  # od shows "fmt " without its space
      rate=$(u32_at "$file" $((pos + 16)))
    elif [[ $id == data ]]; then
      data=$len
      if ((data == 0 || data == 4294967295 || data > size - pos - 8)); then data=$((size - pos - 8)); fi
      break
    fi
    pos=$((pos + 8 + len + (len & 1)))
  done
  ((rate > 0 && data >= 0)) || return 1
  awk -v d="$data" -v r="$rate" 'BEGIN { printf "%.3f\n", d / r }'
}

# Runs the command given with no input and no output; prints its CPU time
# (user + sys, in seconds), or fails when it fails.
cpu_seconds() {
  local TIMEFORMAT='%3U %3S' t
  { t=$({ time "$@" < /dev/null > /dev/null 2>&1; } 2>&1); } || return 1
  awk -v u="${t% *}" -v s="${t#* }" 'BEGIN { printf "%.3f\n", u + s }'
}

# The median of the numbers given.
median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) exit 1
    if (NR % 2) printf "%.4f\n", v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Median CPU time of $runs runs of the command given.
median_cpu() {
  local times=() i t
  for ((i = 0; i < runs; ++i)); do
    t=$(cpu_seconds "$@") || return 1
    times+=("$t")
  done
  median "${times[@]}"
}

# Seconds of audio per second of CPU; a run too short for the clock counts
# as one millisecond.
realtime_x() {
  awk -v a="$1" -v c="$2" 'BEGIN { if (c < 0.001) c = 0.001; printf "%.1f\n", a / c }'
}

printf '%-24s %9s %11s %11s %8s\n' song seconds tunecast_x wildmidi_x ratio
ratios=()
rated=()  # "ratio song" lines, for the worst
n=0
for f in "${files[@]}"; do
  n=$((n + 1))
  [[ $f == -* ]] && f=./$f  # never read as an option
  wad=$work/$n.wad
  "$make_wad" "$wad" "D_PEER=$f" || fail "make_wad no pudo envolver $f"
  out=$work/$n-tunecast.wav
  cpu=$(median_cpu "$tunecast" -v 1 "${stereo[@]}" "$wad" D_PEER "$out") || fail "tunecast falló con $f"
  secs=$(wav_seconds "$out") || fail "tunecast no escribió un WAV legible para $f"
  tx=$(realtime_x "$secs" "$cpu")
  wx=- ratio=-
  if ((!tunecast_only)); then
    out=$work/$n-wildmidi.wav
    cpu=$(median_cpu wildmidi -o "$out" -r 44100 "$f") || fail "wildmidi falló con $f"
    wsecs=$(wav_seconds "$out") || fail "wildmidi no escribió un WAV legible para $f"
    wx=$(realtime_x "$wsecs" "$cpu")
    ratio=$(awk -v t="$tx" -v w="$wx" 'BEGIN { printf "%.2f\n", (w > 0 ? t / w : 0) }')
    ratios+=("$ratio")
  fi
  name=$(basename -- "$f")
  [[ $ratio == - ]] || rated+=("$ratio $name")
  printf '%-24s %9.1f %11s %11s %8s\n' "${name:0:24}" "$secs" "$tx" "$wx" "$ratio"
done
if ((${#ratios[@]} > 0)); then
  printf '%s\n' "${rated[@]}" | sort -g | awk -v median="$(median "${ratios[@]}")" '
    NR == 1 { worst = $1; worst_song = $2 }
    $1 < 1.0 { below++ }
    END { printf "summary: %d songs, median ratio %.2f, worst %.2f (%s), below 1.0: %d\n",
          NR, median, worst, worst_song, below }'
fi
