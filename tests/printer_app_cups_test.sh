#!/usr/bin/env bash
# velmora-printer-app behind a real CUPS client: starts the application and a cupsd of its
# own, both on loopback ports in a temporary folder; cupsd adds the application's printer
# as a driverless queue (lpadmin -m everywhere) and prints a PDF through it with lp. Both
# daemons are stopped by their process ids whatever happens.
# Usage: printer_app_cups_test.sh APP VELMORA
set -uo pipefail
app=$1 velmora=$2

for program in cupsd lp lpadmin lpstat ps2pdf ipptool python3; do
  if ! command -v "$program" >/dev/null; then
    echo "SKIP: $program is not installed (scripts/install-deps installs cups, cups-ipp-utils, ghostscript)"
    exit 77
  fi
done
serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
if [[ ! -x $serverbin/filter/pdftopdf || ! -x $serverbin/backend/ipp ]]; then
  echo "SKIP: CUPS's pdftopdf filter or ipp backend is missing (Debian: cups-filters, cups-daemon)"
  exit 77
fi

top=$(mktemp -d /tmp/velmora-appcups-XXXXXX)
chmod 755 "$top"
app_pid= cupsd_pid=
cleanup() {
  [[ -n $cupsd_pid ]] && kill "$cupsd_pid" 2>/dev/null && wait "$cupsd_pid" 2>/dev/null
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [[ -n ${KEEP:-} ]] || rm -rf "$top"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- cupsd error_log (last lines)"
  tail -n 30 "$top/log/error_log" 2>/dev/null
  echo "--- application log (last lines)"
  grep -v '^D ' "$top/app.log" 2>/dev/null | tail -n 20
  exit 1
}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

app_port=$(free_port)
uri=ipp://127.0.0.1:$app_port/ipp/print/Office
mkdir -p "$top"/{out,conf,spool/tmp,state,cache,log}
"$app" --listen 127.0.0.1 --port "$app_port" --state-folder "$top/app" --no-tls --log "$top/app.log" \
  --file-device-folder "$top/out" --add-printer "Office=file://$top/out" >"$top/app.out" 2>&1 &
app_pid=$!
for _ in $(seq 100); do
  ipptool -q "$uri" get-printer-attributes.test 2>/dev/null && break
  sleep 0.1
done
ipptool -q "$uri" get-printer-attributes.test 2>/dev/null || fail "the application did not start: $(cat "$top/app.out")"

cups_port=$(free_port)
export CUPS_SERVER=127.0.0.1:$cups_port
user_line=
if [[ $(id -u) -eq 0 ]]; then
  user_line="User lp
Group lp"
fi
cat >"$top/conf/cups-files.conf" <<EOF
$user_line
ServerRoot $top/conf
ServerBin $serverbin
DataDir /usr/share/cups
RequestRoot $top/spool
TempDir $top/spool/tmp
StateDir $top/state
CacheDir $top/cache
AccessLog $top/log/access_log
ErrorLog $top/log/error_log
PageLog $top/log/page_log
Printcap $top/printcap
EOF
source "$(dirname "$0")/private_cupsd.sh"
start_private_cupsd "$top" "$cups_port" "LogLevel info" || fail "cupsd did not start"

# The driverless queue: CUPS asks the application for its attributes and makes the PPD.
lpadmin -p Velmora -E -v "$uri" -m everywhere >"$top/lpadmin.txt" 2>&1 || fail "lpadmin -m everywhere: $(cat "$top/lpadmin.txt")"
# cupsd makes the queue's PPD in the background after lpadmin returns.
for _ in $(seq 100); do
  lpoptions -p Velmora -l >"$top/options.txt" 2>&1
  grep -q "^Duplex" "$top/options.txt" && break
  sleep 0.1
done
grep -q "^Duplex" "$top/options.txt" || fail "the driverless queue offers no Duplex: $(cat "$top/options.txt")"

cat >"$top/doc.ps" <<'EOF'
%!PS
/Helvetica findfont 24 scalefont setfont
1 1 3 { /n exch def 72 700 moveto (Page ) show n 3 string cvs show showpage } for
EOF
ps2pdf "$top/doc.ps" "$top/doc.pdf" || fail "ps2pdf"
id=$(lp -d Velmora -t Minutes -o sides=two-sided-long-edge "$top/doc.pdf" | sed -n 's/^request id is \(Velmora-[0-9]*\).*/\1/p')
[[ -n $id ]] || fail "lp"
number=${id#Velmora-}
state=
for _ in $(seq 300); do
  state=$(sed -n "s/.*\[Job $number\] Job \([a-z]*\).*/\1/p" "$top/log/error_log" | grep -v queued | tail -n 1)
  [[ -n $state ]] && break
  sleep 0.1
done
[[ $state == completed ]] || fail "CUPS did not complete the job (${state:-unfinished})"
# CUPS completes its job once the application has it; the application prints it next.
job=
for _ in $(seq 300); do
  job=$(grep -l -a '@PJL JOB NAME="Minutes"' "$top"/out/* 2>/dev/null | head -n 1)
  [[ -n $job ]] && grep -aq '%-12345X@PJL EOJ' "$job" && break
  sleep 0.1
done
[[ -n $job ]] || fail "no finished job from the application"
grep -aq '@PJL SET DUPLEX=ON' "$job" || fail "the job is not two-sided"
grep -aq "UserName=$(id -un)" "$job" || fail "the job does not name the user"
[[ $("$velmora" dump "$job" | grep -c BeginPage) -eq 3 ]] || fail "3 pages are not 3 sheets"

echo "PASS: a driverless CUPS queue (lpadmin -m everywhere) printed a PDF through the application"
