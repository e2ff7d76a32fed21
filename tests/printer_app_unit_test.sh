#!/usr/bin/env bash
# The systemd unit of velmora-printer-app: systemd reads it without a warning, and its
# exposure as systemd rates it stays at 4.0 or lower. The unit is checked as configured,
# with ExecStart pointed at the built program so that systemd finds an executable.
# Usage: printer_app_unit_test.sh UNIT APP
set -uo pipefail
unit=$1 app=$2

if ! command -v systemd-analyze >/dev/null || ! systemd-analyze --help | grep -q -- --offline; then
  echo "SKIP: systemd-analyze with --offline (systemd 250 or later) is not installed"
  exit 77
fi

top=$(mktemp -d /tmp/velmora-unit-XXXXXX)
trap 'rm -rf "$top"' EXIT
copy=$top/$(basename "$unit")
sed "s|^ExecStart=[^ ]*|ExecStart=$app|" "$unit" >"$copy"

# systemd only warns about an unknown key or value and still answers 0.
warnings=$(systemd-analyze verify --man=no "$copy" 2>&1) || { echo "FAIL: $warnings"; exit 1; }
[[ -z $warnings ]] || { echo "FAIL: systemd-analyze verify warns:"; echo "$warnings"; exit 1; }

# --threshold is in tenths: 40 is an exposure of 4.0.
report=$(systemd-analyze security --offline=true --threshold=40 "$copy" 2>&1)
status=$?
grep 'Overall exposure level' <<<"$report"
if [[ $status -ne 0 ]]; then
  echo "FAIL: the unit's exposure is above 4.0 (or it could not be rated):"
  grep -v '✓' <<<"$report"
  exit 1
fi
echo "PASS"
