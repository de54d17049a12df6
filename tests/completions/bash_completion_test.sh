#!/usr/bin/env bash
# bash_completion_test.sh SCRIPT TOOL TOOLS_DIR: sources the bash completion
# SCRIPT and calls its function as bash would (COMP_WORDS, COMP_CWORD,
# COMP_LINE), with bash-completion's helpers loaded and without them, and
# checks what COMPREPLY offers: the demo's lumps after the archive, the
# options after --vo, the formats after --formato, nothing (and no noise on
# standard error) for an archive that does not list, and a lump named like
# a command substitution offered quoted, never run. TOOLS_DIR holds the
# demo's and the WAD's writers (make_demo, make_demo_midi, make_wad).
set -uo pipefail
script=$(realpath "$1") tool=$(realpath "$2") tools=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tools/make_demo" "$work/demo.wad" >/dev/null
"$tools/make_demo_midi" "$work/song.mid" >/dev/null
"$tools/make_wad" "$work/hostile.wad" "\$(:>ran)=$work/song.mid" "A B=$work/song.mid" >/dev/null
printf 'not a wad' >"$work/junk.wad"
mkdir "$work/songs"

cat >"$work/cases.sh" <<CASES
# offers WANT WORD...: completing the last WORD offers WANT (sorted, spaces).
offers() {
  local want=\$1 got
  shift
  COMP_WORDS=("\$@")
  COMP_CWORD=\$((\${#COMP_WORDS[@]} - 1))
  COMP_LINE="\$*"
  COMP_POINT=\${#COMP_LINE}
  COMPREPLY=()
  _tunecast tunecast "\${COMP_WORDS[COMP_CWORD]}" "\${COMP_WORDS[COMP_CWORD - 1]}" 2>"$work/stderr"
  got=\$(printf '%s\n' "\${COMPREPLY[@]}" | sort | tr '\n' ' ')
  if [[ "\${got% }" != "\$want" ]]; then
    echo "\$mode: '\$*' offered [\${got% }], expected [\$want]" >&2
    failures=\$((failures + 1))
  fi
  if [[ -s "$work/stderr" ]]; then
    echo "\$mode: '\$*' wrote on standard error: \$(cat "$work/stderr")" >&2
    failures=\$((failures + 1))
  fi
}
failures=0
source "$script"
cd "$work"
offers 'D_DEMO D_DEMOMI' "$tool" demo.wad ''
offers 'D_DEMOMI' "$tool" -q demo.wad D_DEMOM
offers 'D_DEMO D_DEMOMI' "$tool" demo.wad -e --formato flac ''
offers 'D_DEMO D_DEMOMI' "$tool" -p demo.wad ''
offers 'D_DEMO D_DEMOMI' "$tool" --volumen 80 --tocar demo.wad ''
offers '' "$tool" junk.wad ''
offers '' "$tool" missing.wad ''
offers '--volume --volumen' "$tool" --vo
offers '--passes --play' "$tool" demo.wad --p
offers 'flac mid ogg wav' "$tool" --formato ''
offers 'demo.wad' "$tool" dem
offers 'songs' "$tool" -a so
offers 'A\\ B \\\$\\(:\\>ran\\)' "$tool" hostile.wad ''
if [[ -e ran ]]; then
  echo "\$mode: a lump's name was run as a command" >&2
  failures=\$((failures + 1))
fi
exit \$((failures != 0))
CASES

status=0
mode="plain bash" bash --norc "$work/cases.sh" || status=1
for library in /usr/share/bash-completion/bash_completion /etc/bash_completion; do
  if [[ -r $library ]]; then
    mode="with bash-completion" bash --norc -c "source $library; source $work/cases.sh" || status=1
    break
  fi
done
exit $status
