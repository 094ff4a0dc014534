#!/usr/bin/env bash
# The manual page and the shells' completions say what the command's own help
# says: the same commands, and for each command the same options.
# Usage: docs_test.sh HALVEX SOURCE_DIR
set -uo pipefail
halvex=$1 src=$2
man=$src/docs/man/halvex.1 comp=$src/completions
failed=0
same() {  # WHAT EXPECTED ACTUAL
  [[ "$2" == "$3" ]] && return
  echo "FAIL $1: expected [$2], found [$3]"
  failed=1
}
# Option names standing as words (not "retry-once"), sorted, without --help.
options() { grep -oE -- '(^|[^A-Za-z0-9-])(-[rh]\b|--[a-z][a-z-]*)' | grep -oE -- '-[rh]$|--[a-z-]+' |
            grep -vx -- --help | sort -u | xargs; }
# The .TP tags of a section (.SH NAME) or subsection (.SS "NAME ...") of the man page.
man_tags() { awk -v head="$1" '/^\.S[HS] /{on = index($0, head) == 1} on && tp {print} {tp = /^\.TP/}' "$man" |
             sed 's/\\-/-/g'; }

overview=$("$halvex" help) || { echo "FAIL halvex help exited $?"; exit 1; }
commands=$(sed -n 's/^  \([a-z][a-z]*\)\b.*/\1/p' <<<"$overview" | xargs)
same "the man page's commands" "$commands" "$(sed -n 's/^\.SS "\([a-z]*\).*/\1/p' "$man" | xargs)"
same "bash's commands" "$commands" "$(sed -n 's/^ *local commands="\(.*\)"/\1/p' "$comp/halvex.bash")"
same "fish's commands" "$commands" "$(sed -n 's/^set -l commands //p' "$comp/halvex.fish")"
same "zsh's commands" "$commands" "$(sed -n "s/^ *'\([a-z]*\):.*/\1/p" "$comp/_halvex" | xargs)"
same "the man page's version" "$("$halvex" --version | cut -d' ' -f2)" \
  "$(sed -n 's/^\.TH .*"Halvex \([^"]*\)".*/\1/p' "$man" "$src/docs/man/halvex-settings.5" | sort -u)"
same "the man page's OPTIONS" "$(grep -E '^ +-' <<<"$overview" | options)" "$(man_tags .SH\ OPTIONS | options)"

source "$comp/halvex.bash"
for command in $commands; do
  [[ $command == help ]] && continue
  help=$("$halvex" help "$command")
  same "'halvex help $command' against '$command --help'" "$help" "$("$halvex" "$command" --help)"
  expected=$(options <<<"$help")
  same "man page, $command" "$expected" "$(man_tags ".SS \"$command " | options)"
  COMP_WORDS=(halvex "$command" -) COMP_CWORD=2 COMPREPLY=()
  _halvex
  same "bash, halvex $command -<TAB>" "$expected" "$(printf '%s\n' "${COMPREPLY[@]}" | options)"
  same "zsh, $command" "$expected" \
    "$(awk -v c="($command)" '$1 == c {on = 1} on {print} on && /;;/ {exit}' "$comp/_halvex" | options)"
  same "fish, $command" "$expected" "$(grep -E "__fish_seen_subcommand_from [a-z ]*\b$command\b" "$comp/halvex.fish" |
    grep -oE -- '-s r|-l [a-z-]+' | sed 's/^-s /-/; s/^-l /--/' | options)"
done

# The settings page's keys are the settings' own (less the state file's).
same "halvex-settings(5)'s keys, against suite/settings/settings.h" \
  "$(sed -n 's/.*Key = "\(.*\)";/\1/p' "$src/suite/settings/settings.h" | grep -vx last_password_use | sort | xargs)" \
  "$(awk '/^\.SH /{on = $0 == ".SH KEYS"} on && tp {print $2} {tp = /^\.TP/}' "$src/docs/man/halvex-settings.5" |
     sort | xargs)"

"$halvex" help nonesuch >/dev/null 2>&1
same "exit status of 'halvex help nonesuch'" 2 $?
[[ $failed == 0 ]] && echo "the man page and the completions match the help"
exit $failed
