# bash completion for halvex.
# Each command's options are those 'halvex help COMMAND' lists
# (tests/cli/docs_test.sh holds them to it).

_halvex() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion || return
  else
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  fi

  local commands="encrypt decrypt copy mail keystore status inspect keygen clean help"
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      -*) ;;
      *) command=${words[i]}; break ;;
    esac
  done

  if [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      mapfile -t COMPREPLY < <(compgen -W "-h --help --version" -- "$cur")
    else
      mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    fi
    return
  fi

  case $prev in
    --password-file | --passphrase-file | --recipient | --identity | -o | --output)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return ;;
    --to) mapfile -t COMPREPLY < <(compgen -d -- "$cur"); return ;;
    --stub) mapfile -t COMPREPLY < <(compgen -W "windows linux" -- "$cur"); return ;;
    --on-exists) mapfile -t COMPREPLY < <(compgen -W "replace skip stop" -- "$cur"); return ;;
    --on-hidden) mapfile -t COMPREPLY < <(compgen -W "encrypt skip" -- "$cur"); return ;;
    --links) mapfile -t COMPREPLY < <(compgen -W "encrypt refuse" -- "$cur"); return ;;
    --on-error) mapfile -t COMPREPLY < <(compgen -W "skip stop retry-once" -- "$cur"); return ;;
    -j | --jobs) mapfile -t COMPREPLY < <(compgen -W "1 2 4 8" -- "$cur"); return ;;
  esac

  local opts=""
  case $command in
    encrypt) opts="-r --recursive --hidden --self-extract --stub --ask-password --password-file --recipient --on-exists --on-hidden --links --on-error --strict --no-input -j --jobs --json" ;;
    decrypt) opts="-r --recursive --to-temp --stream-unverified --identity --ask-password --password-file --on-exists --on-error --strict --no-input -j --jobs --json" ;;
    copy) opts="--stub -r --recursive --password-file --no-input --json" ;;
    mail) opts="-r --recursive --stub --yah --to --password-file --no-input --json" ;;
    keystore) opts="--json --passphrase-file --no-passphrase --no-input --force" ;;
    status) opts="-r --recursive --json" ;;
    inspect) opts="--json" ;;
    keygen) opts="-o --output --ring" ;;
    clean) opts="--dry-run" ;;
    help)
      [[ $i -eq $((cword - 1)) ]] && mapfile -t COMPREPLY < <(compgen -W "${commands% help}" -- "$cur")
      return ;;
    *) return ;;
  esac

  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$opts --help" -- "$cur")
  elif [[ $command == keystore && $i -eq $((cword - 1)) ]]; then
    mapfile -t COMPREPLY < <(compgen -W "path list use export import" -- "$cur")
  elif [[ $command == keystore && ${words[i + 1]} == use ]]; then
    COMPREPLY=()
  else
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    compopt -o filenames 2>/dev/null
  fi
}
complete -F _halvex halvex
