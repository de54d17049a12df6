#!/usr/bin/env zsh
# zsh_completion_test.zsh COMPLETIONS_DIR TOOL TOOLS_DIR: types command lines
# into an interactive zsh on a pseudo-terminal, presses Tab, and checks what
# _tunecast offers: the demo's lumps after the archive, the options after
# --vo, the formats after --formato, nothing for an archive that does not
# list, no line of the tool on the screen, and a lump named like a command
# substitution offered quoted, never run. compadd is wrapped to print each match it
# is given, between markers. TOOLS_DIR holds make_demo, make_demo_midi and
# make_wad.
emulate -L zsh
setopt no_unset pipe_fail
zmodload zsh/zpty || exit 77

completions=${1:A} tool=${2:A} tools=${3:A}
zsh -n $completions/_tunecast || exit 1
work=$(mktemp -d) || exit 1
trap 'zpty -d shell 2>/dev/null; rm -rf $work' EXIT
$tools/make_demo $work/demo.wad >/dev/null || exit 1
$tools/make_demo_midi $work/song.mid >/dev/null || exit 1
$tools/make_wad $work/hostile.wad "\$(:>ran)=$work/song.mid" "A B=$work/song.mid" >/dev/null || exit 1
print -n 'not a wad' >$work/junk.wad
failures=0

# A shell that finds the built tool as tunecast, with the completion system
# on and nothing of the user's. Keys are sent only once its prompt is out:
# before that the terminal is still in cooked mode, whose line editing would
# take the Tab and the ^U itself.
zpty shell "cd ${(q)work} && env -i HOME=/nonexistent TERM=dumb PATH=${(q)tool:h}:/usr/bin:/bin zsh -f -i"
zpty -w shell "PS2=''; fpath=(${(q)completions} \$fpath)"
zpty -w shell 'autoload -Uz compinit && compinit -u -D'
zpty -w shell 'compadd() {
  if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then builtin compadd "$@"; return; fi
  local -a hits; builtin compadd -A hits "$@"; local hit
  for hit in $hits; do print -r -- "<match>$hit"; done
  builtin compadd "$@"
}'
zpty -w shell 'zstyle ":completion:*" menu no; bindkey "^I" complete-word'
zpty -w shell 'PS1="<prompt>"; print "<ready>"'
zpty -r shell text '*<ready>*<ready>*<prompt>*' || { print -u2 "zsh did not start"; exit 1; }

# offers WANT LINE: Tab at the end of LINE offers WANT (sorted, spaces).
offers() {
  local want=$1 line=$2 out got
  zpty -w -n shell "$line"$'\t\C-e\C-u print "<done>"\n'
  # The typed command's echo, its output, then the next prompt.
  zpty -r shell out '*<done>*<done>*<prompt>*'
  got=${(j: :)${(ou)${(M)${(f)out//$'\r'/}:#*<match>*}##*<match>}}
  if [[ $got != $want ]]; then
    print -u2 -r -- "zsh: '$line' offered [$got], expected [$want]; the terminal: ${(q+)out}"
    (( failures++ ))
  fi
  # The tool's own lines (the loader's, its errors) must not reach the screen.
  if [[ $out == *'[WAD]'* ]]; then
    print -u2 -r -- "zsh: '$line' left the tool's lines on the terminal: ${(q+)out}"
    (( failures++ ))
  fi
}

offers 'D_DEMO D_DEMOMI' 'tunecast demo.wad '
offers 'D_DEMOMI' 'tunecast -q demo.wad D_DEMOM'
offers 'D_DEMO D_DEMOMI' 'tunecast -p demo.wad '
offers 'D_DEMO D_DEMOMI' 'tunecast --volumen 80 --tocar demo.wad '
offers '' 'tunecast junk.wad '
offers '--volume --volumen' 'tunecast --vo'
offers 'flac mid ogg wav' 'tunecast --formato '
offers 'A\ B \$\(:\>ran\)' 'tunecast hostile.wad '
if [[ -e $work/ran ]]; then
  print -u2 "zsh: a lump's name was run as a command"
  (( failures++ ))
fi
(( failures == 0 ))
