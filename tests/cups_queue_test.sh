#!/usr/bin/env bash
# A real CUPS queue with the Velmora PPD and filter: starts its own cupsd on a loopback
# port in a temporary folder (a file: queue; filters run as lp when the test runs as
# root), prints PDFs with lp and checks each finished job. The daemon is stopped by its
# process id whatever happens.
# Usage: cups_queue_test.sh VELMORA FILTER PPD MODULE
set -uo pipefail
velmora=$1 filter=$2 ppd=$3 module=$4

for program in cupsd lp lpadmin lpstat ps2pdf; do
  if ! command -v "$program" >/dev/null; then
    echo "SKIP: $program is not installed (scripts/install-deps installs cups-daemon, cups-client, ghostscript)"
    exit 77
  fi
done

top=$(mktemp -d /tmp/velmora-cupsd-XXXXXX)
chmod 755 "$top"
cupsd_pid=
cleanup() {
  [[ -n $cupsd_pid ]] && kill "$cupsd_pid" 2>/dev/null && wait "$cupsd_pid" 2>/dev/null
  [[ -n ${KEEP:-} ]] || rm -rf "$top"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- cupsd error_log (last lines)"
  tail -n 40 "$top/log/error_log" 2>/dev/null
  exit 1
}

# A free loopback port: the kernel picks one, the test hands it to cupsd.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export CUPS_SERVER=127.0.0.1:$port

mkdir -p "$top"/{conf,serverbin/filter,serverbin/daemon,spool/tmp,state,cache,log,out,system,forms}
# CUPS runs only filters that are real files owned by root (or by the user running it).
cp "$filter" "$top/serverbin/filter/velmora-pxl"
# cupsd starts every filter through its helper in the server folder.
cp "$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)/daemon/cups-exec" "$top/serverbin/daemon/" ||
  fail "no cups-exec helper"
run_as=$(id -un)
user_line=
if [[ $(id -u) -eq 0 ]]; then
  run_as=lp
  user_line="User lp
Group lp"
  chown lp "$top/out" "$top/forms"
fi

cat >"$top/conf/cups-files.conf" <<EOF
$user_line
FileDevice Yes
ServerRoot $top/conf
ServerBin $top/serverbin
DataDir /usr/share/cups
RequestRoot $top/spool
TempDir $top/spool/tmp
StateDir $top/state
CacheDir $top/cache
AccessLog $top/log/access_log
ErrorLog $top/log/error_log
PageLog $top/log/page_log
Printcap $top/printcap
SetEnv VELMORA_SYSTEM_FOLDER $top/system
SetEnv VELMORA_MODULE $module
${LSAN_OPTIONS:+SetEnv LSAN_OPTIONS $LSAN_OPTIONS}
EOF
cat >"$top/conf/cupsd.conf" <<EOF
Listen 127.0.0.1:$port
LogLevel info
Browsing No
JobRetryInterval 1
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF

# The queue's values in the system store, written as an administrator writes them.
export VELMORA_STORE=$top/system/spooler.db XDG_DATA_HOME=$top/system
"$velmora" printer add Office >/dev/null || fail "velmora printer add"
"$velmora" printer set Office UserAuthentication=0 >/dev/null || fail "velmora printer set"
"$velmora" watermark set --printer Office 1 text=CONFIDENTIAL >/dev/null || fail "velmora watermark set"
unset VELMORA_STORE XDG_DATA_HOME

cupsd -f -c "$top/conf/cupsd.conf" -s "$top/conf/cups-files.conf" &
cupsd_pid=$!
for _ in $(seq 100); do
  lpstat -r 2>/dev/null | grep -q "is running" && break
  sleep 0.1
done
lpstat -r 2>/dev/null | grep -q "is running" || fail "cupsd did not start"

lpadmin -p Office -E -v "file://$top/out/office.pxl" -P "$ppd" -o printer-error-policy=abort-job || fail "lpadmin"

cat >"$top/doc.ps" <<'EOF'
%!PS
/Helvetica findfont 24 scalefont setfont
1 1 5 { /n exch def 72 700 moveto (Page ) show n 3 string cvs show showpage } for
EOF
ps2pdf "$top/doc.ps" "$top/doc.pdf" || fail "ps2pdf"
head -c 1500 "$top/doc.pdf" >"$top/broken.pdf"

# Prints with lp, waits until CUPS has ended the job and answers how it ended (the
# scheduler's log line: "completed", "aborted", "stopped", ...).
print() {
  local id number state=
  id=$(lp -d Office "$@" | sed -n 's/^request id is \(Office-[0-9]*\).*/\1/p')
  [[ -n $id ]] || fail "lp $*"
  number=${id#Office-}
  for _ in $(seq 300); do
    state=$(sed -n "s/.*\[Job $number\] Job \([a-z]*\).*/\1/p" "$top/log/error_log" | grep -v queued | tail -n 1)
    [[ -n $state ]] && break
    sleep 0.1
  done
  echo "${state:-unfinished}"
}
# The finished job of the last print, kept under a name.
keep() { cp "$top/out/office.pxl" "$top/out/$1.pxl"; }
has() { grep -aq -- "$2" "$top/out/$1.pxl" || fail "job $1 lacks '$2'"; }
count() { "$velmora" dump "$top/out/$1.pxl" | grep -c "$2"; }

[[ $(print -t Held -o job-password=1234 -o HoldMode=Locked -o FileBoxName=Finance "$top/doc.pdf") == completed ]] ||
  fail "the held job did not complete"
keep held
has held '@PJL JOB NAME="Held"'
has held "UserName=$(id -un)"
has held '@PJL SET HOLD=LOCKED'
has held '@PJL SET FILEBOXNAME="Finance"'
has held '@PJL SET FILEBOXPASSWORD="1234"'

[[ $(print -o number-up=4 "$top/doc.pdf") == completed ]] || fail "the 4-up job did not complete"
keep nup
[[ $(print -o number-up=4 -o WatermarkFirst=1 "$top/doc.pdf") == completed ]] || fail "the watermarked job did not complete"
keep marked
[[ $(count nup BeginPage) -eq 2 ]] || fail "5 pages 4-up are not 2 sheets"
# A text watermark in each of the 5 cells that hold a page: one clip each.
[[ $(($(count marked SetClipReplace) - $(count nup SetClipReplace))) -eq 5 ]] || fail "not a watermark in every cell"

[[ $(print -o sides=two-sided-long-edge "$top/doc.pdf") == completed ]] || fail "the duplex job did not complete"
keep duplex
has duplex '@PJL SET DUPLEX=ON'
has duplex '@PJL SET BINDING=LONGEDGE'

# A broken document fails its job with a reason; the queue goes on with the next.
[[ $(print "$top/broken.pdf") != completed ]] || fail "the broken document completed"
grep -q "the PDF is damaged or truncated" "$top/log/error_log" || fail "no reason for the broken document"
lpstat -p Office | grep -q "enabled" || fail "the queue was left stopped"
[[ $(print -t After "$top/doc.pdf") == completed ]] || fail "the job after the broken one did not complete"
keep after
has after '@PJL JOB NAME="After"'

echo "PASS: held, 4-up with watermarks, duplex and broken jobs through cupsd (filters as $run_as)"
