#!/usr/bin/env bash
# The programs of an unpacked package, run as a user runs them and from
# nowhere else: the version, an export of the packaged sample and its dump,
# the manual pages and the completion from their installed places, the
# desktop files by AppStream's tree check, and the window up to the point
# where it shows, on a virtual display. scripts/test-package runs it with the
# build folder hidden.
# Usage: InstalledTest.sh ROOT VERSION [COMMIT]   (ROOT: where the package was
# unpacked with dpkg -x; COMMIT: the commit the programs must name)
set -uo pipefail
[ $# -ge 2 ] && [ $# -le 3 ] || { echo "usage: InstalledTest.sh ROOT VERSION [COMMIT]" >&2; exit 2; }
root=$(realpath "$1") version=$2 commit=${3:-}
bin=$root/usr/bin doc=$root/usr/share/doc/smsconf
failures=0 checks=0
check() {  # check NAME COMMAND...: runs one check and says how it went
  local name=$1; shift
  checks=$((checks + 1))
  if "$@"; then echo "package: $name: passed"; else echo "package: $name: FAILED"; failures=$((failures + 1)); fi
}

# A home of its own: the export's default files and the window's settings
# land there, and nothing of the user's is read.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/runtime"
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home/runtime
cd "$home" || exit 1

# Neither program may look for libraries anywhere but the system's places.
links_only_the_system() {
  local program
  for program in "$bin/smsconf-cli" "$bin/smsconf"; do
    if readelf -d "$program" | grep -qE 'RPATH|RUNPATH'; then echo "$program has a library path"; return 1; fi
    if ldd "$program" | grep 'not found'; then return 1; fi
  done
}

names_version() {  # names_version PROGRAM: "PROGRAM VERSION (git COMMIT..." and nothing else
  local out
  out=$(env -u DISPLAY -u QT_QPA_PLATFORM "$bin/$1" --version) || return 1
  case $out in
    "$1 $version") [ -z "$commit" ] ;;
    "$1 $version (git $commit)" | "$1 $version (git $commit, modified)") [ -n "$commit" ] ;;
    *) false ;;
  esac || { echo "$1 --version says \"$out\""; return 1; }
}

# The packaged sample, exported to the default files in $HOME, is the
# packaged site's image; dump reads it back.
exports_and_dumps_the_sample() {
  "$bin/smsconf-cli" export "$doc/examples/pumping-station.sms" >export.log &&
    cmp "$HOME/sms.bin" "$doc/examples/site/pumping-station.bin" && [ -s "$HOME/stdcfg.c" ] &&
    "$bin/smsconf-cli" dump "$HOME/sms.bin" >dump.log &&
    grep -q 'АВАРИЯ НАСОСА' dump.log
}

man_pages_render() {
  local page warnings
  for page in smsconf-cli smsconf; do
    warnings=$(LC_ALL=C.UTF-8 MANPATH=$root/usr/share/man man --warnings "$page" 2>&1 >/dev/null) || return 1
    [ -z "$warnings" ] || { echo "$warnings"; return 1; }
  done
}

# bash finds the completion where it looks for one, by the program's name,
# as it does on the first Tab after smsconf-cli.
completes_commands() {
  # shellcheck disable=SC2016
  XDG_DATA_DIRS=$root/usr/share bash -c '
    source /usr/share/bash-completion/bash_completion && __load_completion smsconf-cli || exit 1
    function=$(complete -p smsconf-cli | sed -nE "s/.*-F ([^ ]+) .*/\1/p")
    COMP_WORDS=(smsconf-cli ex) COMP_CWORD=1 COMP_LINE="smsconf-cli ex" COMP_POINT=14
    "$function" smsconf-cli ex smsconf-cli && [ "${COMPREPLY[*]}" = export ]'
}

# The desktop entry, the metadata and the icons, as desktops find them.
validates_tree() { appstreamcli validate-tree --no-net "$root" >validate.log || { cat validate.log; false; }; }

# The window on a virtual display through the platform plugin a desktop
# uses, with the sample open: its title stands on the display, then it is
# ended.
shows_its_window() {
  # shellcheck disable=SC2016
  env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY xvfb-run -a bash -c '
    "$1" "$2" 2>window.log &
    window=$!
    shown=1
    for _ in $(seq 150); do
      if xwininfo -root -tree | grep -qF "\"pumping-station.sms — Smsconf\""; then shown=0; break; fi
      kill -0 $window 2>/dev/null || break
      sleep 0.1
    done
    kill $window 2>/dev/null
    wait $window
    exit $shown' bash "$bin/smsconf" "$doc/examples/pumping-station.sms" || { cat window.log; return 1; }
}

check "the programs take libraries from the system only" links_only_the_system
check "smsconf-cli --version" names_version smsconf-cli
check "smsconf --version without a display" names_version smsconf
check "export and dump of the packaged sample" exports_and_dumps_the_sample
check "the manual pages render" man_pages_render
check "the bash completion completes" completes_commands
check "the desktop files pass appstreamcli validate-tree" validates_tree
check "smsconf shows its window" shows_its_window

echo "$((checks - failures)) passed, $failures failed"
[ $failures -eq 0 ]
