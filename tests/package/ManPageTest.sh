#!/usr/bin/env bash
# The manual pages against the program they describe. smsconf-cli(1) has a
# section for every command that `smsconf-cli --help` lists, and in it every
# option that the command's own --help lists; the options of `smsconf-cli
# --help` stand under OPTIONS. A command that the program takes and the page
# describes is listed by --help. Every page renders with nothing on standard
# error. Only that direction: a page may describe more than the program has.
# Usage: ManPageTest.sh SMSCONF_CLI SMSCONF_CLI_PAGE [OTHER_PAGE...]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: ManPageTest.sh SMSCONF_CLI SMSCONF_CLI_PAGE [OTHER_PAGE...]" >&2; exit 2; }
cli=$1 page=$2
shift
failures=0 checks=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The pages quote the window's and the unit's Russian texts, which need a
# UTF-8 locale to render.
for rendered in "$@"; do
  checks=$((checks + 1))
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$rendered" 2>&1 >/dev/null) ||
    fail "$rendered: man failed"
  [ -z "$warnings" ] || fail "$rendered: man --warnings says: $warnings"
done

# The commands under "Subcommands:" and the options under "Options:" of a
# --help text, one a line. Descriptions that wrap continue on lines indented
# further, which neither pattern takes.
commands_of() { sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p'; }
options_of() {
  sed -n '/^Options:/,/^$/s/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n'
}

# The text of the page's section (SH) or subsection (SS) whose heading starts
# with WORD, fonts and escapes taken out.
section() {  # LEVEL WORD
  sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\&//g' "$page" |
    awk -v level=".$1" -v word="$2" '/^\.S[HS] / { inside = ($1 == level && $2 == word); next } inside'
}

# Whether TEXT names OPTION as a whole word: --unit is not --units.
names() {  # TEXT OPTION
  grep -qE -- "(^|[^a-z-])$2([^a-z-]|\$)" <<<"$1"
}

help=$("$cli" --help)
listed=$(commands_of <<<"$help")
[ -n "$listed" ] || fail "smsconf-cli --help lists no command"
options=$(section SH OPTIONS)
for option in $(options_of <<<"$help"); do
  checks=$((checks + 1))
  names "$options" "$option" || fail "smsconf-cli(1) OPTIONS does not name $option"
done
for command in $listed; do
  checks=$((checks + 1))
  text=$(section SS "$command")
  if [ -z "$text" ]; then
    fail "smsconf-cli(1) has no section for the command $command"
    continue
  fi
  for option in $(options_of < <("$cli" "$command" --help)); do
    checks=$((checks + 1))
    names "$text" "$option" || fail "smsconf-cli(1) does not name $option in the section of $command"
  done
done
# A command that --help leaves out (as CLI11 does one without a description)
# is found through the page.
for command in $(sed -n 's/^\.SS \([a-z][a-z-]*\).*/\1/p' "$page"); do
  # The program's own help, not the general one that an unknown word gets.
  if "$cli" "$command" --help 2>/dev/null | grep -q "^Usage: .* $command "; then
    checks=$((checks + 1))
    grep -qx "$command" <<<"$listed" || fail "smsconf-cli --help does not list the command $command"
  fi
done

echo "$((checks - failures)) passed, $failures failed"
[ $failures -eq 0 ]
