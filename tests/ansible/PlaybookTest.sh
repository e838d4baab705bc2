#!/usr/bin/env bash
# Runs the fleet playbook of examples/ansible against this machine, where
# two hosts of the inventory stand for the hosts at two sites and one
# simulator serves both sites' gateways. The units that answer are loaded
# with the image of their plan, the two reports come back as one table, and
# the unit that does not answer fails the run at the end, named with its
# site.
# Usage: PlaybookTest.sh SMSCONF_CLI PLAYBOOK PROJECT
set -euo pipefail
cli=$1 playbook=$2 project=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
command -v ansible-playbook >/dev/null || fail "ansible-playbook is missing: run scripts/bootstrap"

work=$(mktemp -d)
simulator=
cleanup() {
  [ -n "$simulator" ] && kill "$simulator" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/north" "$work/south" "$work/received"
"$cli" export "$project" --image "$work/north/pumps.bin" --source "$work/pumps.c" >/dev/null
cp "$work/north/pumps.bin" "$work/south/pumps.bin"

# One gateway for each site, unit 1 behind both.
"$cli" simulate --listen 127.0.0.1:0 --listen 127.0.0.1:0 --units 1 --save-image "$work/received" \
  >"$work/simulate.log" 2>&1 &
simulator=$!
for _ in $(seq 100); do
  [ "$(grep -c '^listening on ' "$work/simulate.log")" -ge 2 ] && break
  sleep 0.1
done
mapfile -t gateways < <(sed -n 's/^listening on //p' "$work/simulate.log")
[ ${#gateways[@]} -eq 2 ] || fail "the simulator did not listen twice: $(cat "$work/simulate.log")"

printf 'name;gateway;unit;image\n"Насосная, север";%s;1;pumps.bin\n' "${gateways[0]}" >"$work/north/plan.csv"
printf 'gateway,unit,image,name\n%s,1,pumps.bin,South 1\n%s,7,pumps.bin,South 7\n' \
  "${gateways[1]}" "${gateways[1]}" >"$work/south/plan.csv"
cat >"$work/inventory.ini" <<INVENTORY
[sites]
north site_plan=$work/north
south site_plan=$work/south

[all:vars]
ansible_connection=local
ansible_python_interpreter=/usr/bin/python3
INVENTORY

status=0
LC_ALL=C.UTF-8 ANSIBLE_HOME="$work/ansible" ANSIBLE_LOCAL_TEMP="$work/ansible/tmp" \
  ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 \
  ansible-playbook -i "$work/inventory.ini" "$playbook" \
  -e "smsconf_cli=$cli" -e "reports_dir=$work/reports" -e "remote_dir=$work/remote" \
  -e '{"fleet_options": ["--tries", "2", "--timeout", "100"]}' >"$work/playbook.log" 2>&1 || status=$?
show() { cat "$work/playbook.log" >&2; }

# Unit 7 of the south site is not there: the run fails at its very end.
[ $status -eq 2 ] || { show; fail "ansible-playbook exited $status, not 2"; }
grep -q 'Units not loaded: south '"${gateways[1]}"'/7 failed\.' "$work/playbook.log" ||
  { show; fail "the failure does not name the unit that was not loaded"; }

expected="site|name|gateway|unit|result
north|Насосная, север|${gateways[0]}|1|loaded
south|South 1|${gateways[1]}|1|loaded
south|South 7|${gateways[1]}|7|failed"
actual=$(python3 -c '
import csv, sys
for row in csv.reader(open(sys.argv[1], encoding="utf-8")): print("|".join(row[:5]))
' "$work/reports/summary.csv")
[ "$actual" = "$expected" ] || { show; fail "the table differs:
$actual
expected:
$expected"; }

# Both sites' units hold the image of their plan.
kill -TERM "$simulator"
wait "$simulator" || fail "the simulator ended with $?"
simulator=
for gateway in "${gateways[@]}"; do
  received=$(ls "$work/received/"*"${gateway##*:}"*1.bin)
  cmp "$received" "$work/north/pumps.bin" || fail "the unit behind $gateway holds another image"
done
