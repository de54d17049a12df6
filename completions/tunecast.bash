# bash completion for tunecast: options by their Spanish and English names,
# files for the archive and the output, a directory for --todas, the four
# formats, and the music lumps of the archive already on the command line.

# The lump names of ARCHIVE, one a line, as `tunecast -l ARCHIVE --json`
# gives them. Only a regular file is listed (a FIFO would block the shell);
# a name with an escape other than \" \\ \/ is left out, since it holds a
# byte nobody types. An archive that does not list gives nothing, silently.
_tunecast_lumps() {
  local tool=$1 archive=$2 line name
  # shellcheck disable=SC2088 # the word as typed: its ~ is not expanded yet
  [[ $archive == "~/"* ]] && archive=$HOME/${archive#"~/"}
  if [[ ! -f $archive ]]; then
    # ARCHIVO.zip:MIEMBRO: the ZIP must be a file.
    [[ $archive == *:* && -f ${archive%:*} ]] || return 0
  fi
  while IFS= read -r line; do
    [[ $line =~ ^\{\"name\":\"(([^\"\\]|\\.)*)\", ]] || continue
    name=${BASH_REMATCH[1]}
    [[ $name == *\\u* ]] && continue
    name=${name//\\\//\/}
    name=${name//\\\"/\"}
    name=${name//\\\\/\\}
    printf '%s\n' "$name"
  done < <("$tool" -l "$archive" --json 2>/dev/null </dev/null)
}

# A word as the shell will pass it: quotes and backslashes taken off, enough
# for a file name typed at the prompt.
_tunecast_dequote() {
  local word=$1
  case $word in
  \'*) word=${word#\'} word=${word%\'} ;;
  \"*) word=${word#\"} word=${word%\"} ;;
  *) word=${word//\\/} ;;
  esac
  printf '%s' "$word"
}

_tunecast() {
  local cur prev words cword
  if declare -F _get_comp_words_by_ref >/dev/null; then
    # Keeps ARCHIVO.zip:MIEMBRO and --formato=flac whole words.
    _get_comp_words_by_ref -n =: cur prev words cword
  else
    words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    cur=${words[cword]} prev=${words[cword - 1]}
    # Without it, bash splits --formato=fl into --formato, = and fl.
    [[ $cur == = ]] && cur=''
    [[ $prev == = ]] && ((cword >= 2)) && prev=${words[cword - 2]}
  fi
  COMPREPLY=()

  local -a long_options=(--vueltas --fundido --todas --volumen --listar --json --silencio
    --ayuda --help --version --formato --estereo --tocar
    --passes --fade --all --volume --list --quiet --format --stereo --play)
  local formats='wav flac ogg mid'

  # What came before: the positional arguments, and the options that change
  # what they mean (-l ARCHIVE, -a DIR ARCHIVE, -p ARCHIVE LUMP).
  local -a positional=()
  local mode=render archive='' i word options_done=0
  for ((i = 1; i < cword; i++)); do
    word=${words[i]}
    # - alone and a dash with a digit (-5) are ordinary arguments.
    if ((options_done)) || [[ $word != -?* || $word == -[0-9]* ]]; then
      positional+=("$word")
      continue
    fi
    if [[ $word == --* && ${words[i + 1]-} == = ]]; then
      word=$word=${words[i + 2]-} i=$((i + 2))  # --opt=value, split by bash
    fi
    case $word in
    --) options_done=1 ;;
    -v | --vueltas | --passes | -f | --fundido | --fade | --volumen | --volume | --formato | --format)
      i=$((i + 1)) ;;
    -a | --todas | --all) mode='batch' i=$((i + 1)) ;;
    -p | --tocar | --play)
      mode=play
      ((i + 1 < cword)) && archive=${words[i + 1]}
      i=$((i + 1)) ;;
    --tocar=* | --play=*) mode=play archive=${word#*=} ;;
    -p?*) mode=play archive=${word#-p} ;;
    -a?* | --todas=* | --all=*) mode='batch' ;;
    -l | --listar | --list) mode=list ;;
    -l?* | --listar=* | --list=*) mode=list ;;
    esac
  done

  # The value of the option just before.
  case $prev in
  --formato | --format)
    mapfile -t COMPREPLY < <(compgen -W "$formats" -- "$cur")
    return 0 ;;
  -a | --todas | --all)
    _tunecast_files -d "$cur"
    return 0 ;;
  -p | --tocar | --play)
    _tunecast_files -f "$cur"
    return 0 ;;
  -v | --vueltas | --passes | -f | --fundido | --fade | --volumen | --volume)
    return 0 ;;
  esac

  if ! ((options_done)) && [[ $cur == -* ]]; then
    case $cur in
    --formato=* | --format=*)
      # = breaks words for readline: only what follows it is replaced.
      mapfile -t COMPREPLY < <(compgen -W "$formats" -- "${cur#*=}") ;;
    --*=*) ;;
    *) mapfile -t COMPREPLY < <(compgen -W "${long_options[*]} -v -f -a -l -p -e -q -h -V --" -- "$cur") ;;
    esac
    return 0
  fi

  # The positional argument being typed: ARCHIVE LUMP OUT [seconds] for a
  # render; ARCHIVE [seconds] for -a and -l; LUMP [seconds] after -p ARCHIVE.
  local slot=${#positional[@]}
  if [[ $mode == play && -n $archive ]]; then
    ((slot == 0)) && _tunecast_lump_words "${words[0]}" "$archive" "$cur"
    return 0
  fi
  case $mode:$slot in
  *:0 | render:2) _tunecast_files -f "$cur" ;;
  render:1) _tunecast_lump_words "${words[0]}" "${positional[0]}" "$cur" ;;
  esac
  return 0
}

# COMPREPLY: the lumps of ARCHIVE (as typed) that start with CUR, quoted for
# the command line where they hold more than letters, digits and _.-
# Not through compgen -W, which would expand a name such as $(...): the
# names come from the file.
_tunecast_lump_words() {
  local tool=$1 archive cur=$3 name
  archive=$(_tunecast_dequote "$2")
  cur=$(_tunecast_dequote "$cur")
  while IFS= read -r name; do
    [[ $name == "$cur"* ]] || continue
    [[ $name == *[!A-Za-z0-9_.^[\]-]* ]] && printf -v name '%q' "$name"
    COMPREPLY+=("$name")
  done < <(_tunecast_lumps "$tool" "$archive")
}

# COMPREPLY: files (-f) or directories (-d) that start with CUR, through
# bash-completion's _filedir when it is loaded (quoting, ~), else compgen.
_tunecast_files() {
  if declare -F _filedir >/dev/null; then
    if [[ $1 == -d ]]; then _filedir -d; else _filedir; fi
    return
  fi
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen "$1" -- "$2")
}

complete -F _tunecast tunecast
