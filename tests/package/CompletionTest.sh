#!/usr/bin/env bash
# The bash completion of smsconf-cli, driven as bash drives it on a Tab: the
# commands, every option that each command's --help lists (so that a command
# or option added later is caught), and for each argument the files it takes.
# Usage: CompletionTest.sh COMPLETION_SCRIPT SMSCONF_CLI
set -uo pipefail
[ $# -eq 2 ] || { echo "usage: CompletionTest.sh COMPLETION_SCRIPT SMSCONF_CLI" >&2; exit 2; }
script=$(realpath "$1") cli=$(realpath "$2")
failures=0 checks=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || { echo "no bash-completion installed" >&2; exit 1; }
# shellcheck disable=SC1090
source "$script"
function=$(complete -p smsconf-cli 2>/dev/null | sed -nE 's/.*-F ([^ ]+) .*/\1/p')
[ -n "$function" ] || { echo "FAIL: the script completes nothing for smsconf-cli"; exit 1; }

# What a Tab offers at the end of the command line WORD... (the last word is
# the one being completed), sorted, on one line. As bash does, "=" stands as
# a word of its own, without blanks in the line around it.
offered() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_LINE=${COMP_LINE// = /=}
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$function" smsconf-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | xargs
}

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 1
touch a.sms B.SMS c.bin d.csv e.c f.json g.txt
mkdir sub

# The command line, "|", and what a Tab at its end offers. Folders are
# always offered, to go on into.
cases=(
  "smsconf-cli ''|check diff dump export fleet import load probe simulate"
  "smsconf-cli --|--help --version"
  "smsconf-cli si|simulate"
  "smsconf-cli check ''|B.SMS a.sms sub"
  "smsconf-cli export c.bin --image ''|c.bin sub"
  "smsconf-cli export a.sms --source ''|e.c sub"
  "smsconf-cli export --image = ''|c.bin sub"
  "smsconf-cli dump ''|c.bin sub"
  "smsconf-cli load --unit 2 ''|c.bin sub"
  "smsconf-cli load --gateway ''|"
  "smsconf-cli load --trace ''|- B.SMS a.sms c.bin d.csv e.c f.json g.txt sub"
  "smsconf-cli probe --pcap ''|B.SMS a.sms c.bin d.csv e.c f.json g.txt sub"
  "smsconf-cli fleet ''|d.csv sub"
  "smsconf-cli fleet --report ''|f.json sub"
  "smsconf-cli fleet --trace ''|sub"
  "smsconf-cli fleet d.csv --jobs ''|"
  "smsconf-cli simulate --no-update = ''|"
  "smsconf-cli simulate --save-image ''|B.SMS a.sms c.bin d.csv e.c f.json g.txt sub"
  "smsconf-cli import ''|c.bin e.c sub"
  "smsconf-cli import c.bin -o ''|B.SMS a.sms sub"
  "smsconf-cli diff a.sms ''|B.SMS a.sms c.bin e.c sub"
  "smsconf-cli --version e|export"
)
for case in "${cases[@]}"; do
  line=${case%%|*} want=${case#*|}
  eval "words=($line)"
  checks=$((checks + 1))
  got=$(offered "${words[@]}")
  [ "$got" = "$want" ] || fail "$line: offered \"$got\", not \"$want\""
done

# Every command that --help lists, and every option of each.
help_options() { sed -n '/^Options:/,/^$/s/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n'; }
commands=$("$cli" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
all=" $(offered smsconf-cli '') "
for command in $commands; do
  checks=$((checks + 1))
  [[ $all == *" $command "* ]] || fail "the command $command is not offered"
  options=" $(offered smsconf-cli "$command" -) "
  for option in $(help_options < <("$cli" "$command" --help)); do
    checks=$((checks + 1))
    [[ $options == *" $option "* ]] || fail "smsconf-cli $command: the option $option is not offered"
  done
done

echo "$((checks - failures)) passed, $failures failed"
[ $failures -eq 0 ]
