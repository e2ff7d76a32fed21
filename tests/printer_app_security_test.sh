#!/usr/bin/env bash
# velmora-printer-app as an attacker on the network meets it, over loopback: 127.0.0.2 is
# told to be another machine (--remote-peer). Each block is one attack that must fail:
# administration from elsewhere, a device outside the allowed folder, PINs in responses,
# logs or readable files, a job name that rewrites the state file, a document that runs
# for ever or eats memory, a huge picture, overlay capture and cancels by strangers, overlay
# uploads with paths, forged or oversized forms, refused or clashing watermark images, an
# overlay deleted in mid-job, a box name as long as IPP allows, a kill in mid-job, and no avahi-daemon. The applications are stopped by their process ids.
# Usage: printer_app_security_test.sh APP VELMORA TESTS_FOLDER
set -uo pipefail
app=$1 velmora=$2 tests=$3

for program in ipptool gs ps2pdf python3 curl; do
  if ! command -v "$program" >/dev/null; then
    echo "SKIP: $program is not installed (scripts/install-deps installs cups-ipp-utils, ghostscript, curl)"
    exit 77
  fi
done
if ! python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.2", 0))' 2>/dev/null; then
  echo "SKIP: the loopback address 127.0.0.2 cannot be used here"
  exit 77
fi

top=$(mktemp -d /tmp/velmora-app-sec-XXXXXX)
app_pid=
test_user=
stop_app() {
  [[ -n $app_pid ]] || return 0
  local status=0
  kill "$app_pid" 2>/dev/null
  wait "$app_pid" 2>/dev/null || status=$?
  app_pid=
  return $status
}
cleanup() {
  stop_app
  pkill -KILL -f "dNODISPLAY.*-f$top/" 2>/dev/null
  if [[ -n $test_user ]]; then
    userdel "$test_user" 2>/dev/null
    groupdel velmora-test-admins 2>/dev/null
  fi
  [[ -n ${KEEP:-} ]] || rm -rf "$top"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- application log (last lines)"
  grep -v '^D ' "$top/log" 2>/dev/null | tail -n 30
  exit 1
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
port=$(free_port)
base=http://127.0.0.1:$port
uri=ipp://127.0.0.1:$port/ipp/print/Office
backup=ipp://127.0.0.1:$port/ipp/print/Backup
mkdir -p "$top/out" "$top/out2" "$top/elsewhere"

start_app() {
  "$app" --listen 127.0.0.1 --port "$port" --state-folder "$top/state" --log "$top/log" --log-level debug \
    --remote-peer 127.0.0.2 --file-device-folder "$top/out" --file-device-folder "$top/out2" \
    --job-time-limit 4 --job-memory-limit 400M "$@" >>"$top/stdout" 2>&1 &
  app_pid=$!
  for _ in $(seq 100); do
    ipptool -q "$uri" get-printer-attributes.test 2>/dev/null && return 0
    kill -0 "$app_pid" 2>/dev/null || fail "the application ended: $(tail -n 5 "$top/stdout")"
    sleep 0.1
  done
  fail "the application did not answer on port $port"
}
http_code() { curl -s -o /dev/null -w '%{http_code}' "$@"; }
ipp_from() { python3 "$tests/ipp_request.py" --source "$@"; }
# Prints FILE as FORMAT under TITLE as USER on printer URI, without waiting; answers the job id.
submit() {
  ipptool -t -d format="$2" -d title="$3" -d user="$4" -f "$5" "$1" "$tests/submit.test" 2>&1 |
    sed -n 's/.*job-id (integer) = \([0-9]*\).*/\1/p' | head -n 1
}
job_state() { ipptool -t -d job="$2" "$1" "$tests/job-state.test" 2>/dev/null | sed -n 's/^ *job-state (enum) = \([a-z-]*\).*/\1/p' | head -n 1; }
job_message() { ipptool -t -d job="$2" "$1" "$tests/job-state.test" 2>/dev/null | sed -n 's/^ *job-state-message ([a-zA-Z]*) = //p'; }
# Waits up to SECONDS for job JOB of URI to reach STATE.
wait_state() {
  for _ in $(seq $(($3 * 10))); do
    [[ $(job_state "$1" "$2") == "$4" ]] && return 0
    sleep 0.1
  done
  return 1
}
gs_of() { pgrep -f "dNODISPLAY.*-f$top/state/spool/$1" >/dev/null; }

printf '%%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (Page) show showpage\n' >"$top/doc.ps"
ps2pdf "$top/doc.ps" "$top/doc.pdf" || fail "ps2pdf"
printf '%%!PS\n{} loop\n' >"$top/loop.ps"
printf '%%!PS\n[ { 1000000 string } loop ]\n' >"$top/eater.ps"

# A device outside the allowed folders is refused wherever it comes from.
"$app" --port "$port" --state-folder "$top/refused" --file-device-folder "$top/out" \
  --add-printer "Evil=file://$top/elsewhere" >"$top/refused.txt" 2>&1 && fail "--add-printer took a file outside the folders"
grep -q "not inside a folder named by --file-device-folder" "$top/refused.txt" || fail "no reason: $(cat "$top/refused.txt")"

start_app --add-printer "Office=file://$top/out" --add-printer "Backup=file://$top/out2" \
  --add-printer "Front-Desk=file://$top/out" --add-printer "Front.Desk=file://$top/out2"
grep -q "avahi-daemon is not running" "$top/log" || pgrep -x avahi-daemon >/dev/null || fail "no word on DNS-SD"

# Administration: refused to another machine, open to this one; the web form adds no
# printer on a file outside the allowed folders.
[[ $(http_code --interface 127.0.0.2 "$base/addprinter") == 403 ]] || fail "/addprinter open to another machine"
[[ $(http_code --interface 127.0.0.2 "$base/Office/velmora") == 403 ]] || fail "the settings page open to another machine"
[[ $(http_code "$base/security") == 404 ]] || fail "the /security password page is offered"
session=$(curl -s "$base/addprinter" | sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p' | head -n 1)
[[ -n $session ]] || fail "/addprinter is not open to this machine"
curl -s -o /dev/null --data-urlencode "session=$session" --data "printer_name=Evil&driver_name=velmora_pxl" \
  --data-urlencode "device_uri=file://$top/elsewhere" "$base/addprinter"
ipptool -q "ipp://127.0.0.1:$port/ipp/print/Evil" get-printer-attributes.test 2>/dev/null &&
  fail "the web form added a printer writing outside the allowed folders"

# Overlays on the settings page: an administrator's; a name with a path, a file that is no
# PDF or PostScript, a form without the session token and a form over 2 MiB are refused
# before anything is kept. Over IPP a capture needs a plain name.
page=$base/Office/velmora
[[ $(http_code --interface 127.0.0.2 -F action=overlay-add -F overlay-name=Remote -F "document=@$top/doc.pdf" \
  "$page") == 403 ]] || fail "an overlay upload taken from another machine"
session=$(curl -s "$page" | sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p' | head -n 1)
upload() {
  curl -s -F "session=$1" -F action=overlay-add -F "overlay-name=$2" -F "document=@$3" "$page" |
    sed -n 's/.*id="message"[^>]*>\([^<]*\)<.*/\1/p'
}
echo "plain text" >"$top/text.txt"
head -c 2200000 /dev/zero >"$top/big.pdf"
[[ $(upload "$session" ../../Evil "$top/doc.pdf") == "Not captured: an overlay name is made of"* ]] ||
  fail "an overlay name with a path was taken"
[[ $(upload "$session" Text "$top/text.txt") == *"not a PDF or PostScript document"* ]] || fail "a text file was taken"
[[ $(upload forged-token Forged "$top/doc.pdf") == "Invalid form submission." ]] || fail "a forged form was taken"
[[ $(http_code -F "session=$session" -F action=overlay-add -F overlay-name=Big -F "document=@$top/big.pdf" \
  "$page") == 413 ]] || fail "a form over 2 MiB was read"
ipptool -t -d mode=create -d overlay=.. -d position=over -d state=8 -d title=Evil -f "$top/doc.pdf" "$uri" \
  "$tests/print-overlay.test" >"$top/ipp.txt" || fail "a capture named .. did not abort: $(cat "$top/ipp.txt")"
[[ -z $(find "$top" -name '*.ovl') ]] || fail "an overlay was kept: $(find "$top" -name '*.ovl')"

# A watermark image upload the velmora program refuses leaves the section's kept image as
# it was; printers whose names differ only in characters a file name avoids keep an image
# each.
python3 - "$top" <<'EOF'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
for name, grey in (("logo", 0), ("logo2", 255)):
    header = struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0)
    open(f"{sys.argv[1]}/{name}.png", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
        chunk(b"IDAT", zlib.compress(bytes([0, grey]))) + chunk(b"IEND", b""))
EOF
watermark() {
  curl -s -F "session=$session" -F action=watermark -F section=3 -F kind=image -F placement=centre \
    -F "image=@$2" "$base/$1/velmora" | tr '\n' ' ' | sed -n 's/.*id="message"[^>]*>\([^<]*\)<.*/\1/p'
}
kept_image() {
  XDG_DATA_HOME=$top/state VELMORA_STORE=$top/state/spooler.db "$velmora" watermark show --printer "$1" 3 --json |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["image"])'
}
for row in Office:logo.png:saved Office:text.txt:refused Front-Desk:logo.png:saved Front.Desk:logo2.png:saved; do
  IFS=: read -r printer file outcome <<<"$row"
  message=$(watermark "$printer" "$top/$file")
  [[ $outcome == saved && $message == "Watermark section 3 saved." ]] ||
    [[ $outcome == refused && $message == "Not saved: "* ]] || fail "$file for $printer: $message"
done
for kept in Office:logo.png Front-Desk:logo.png Front.Desk:logo2.png; do
  cmp -s "$(kept_image "${kept%%:*}")" "$top/${kept#*:}" ||
    fail "${kept%%:*} lost its image ${kept#*:}: it keeps $(kept_image "${kept%%:*}")"
done
[[ -z $(find "$top/state/watermark-images" -name '*.upload-*') ]] || fail "an upload is left waiting"

# PINs: a held job's PIN reaches its header and nothing else, also when sent twice.
ipptool -t -d pin=4711 -f "$top/doc.pdf" "$uri" "$tests/print-job.test" >"$top/ipp.txt" || fail "Print-Job: $(cat "$top/ipp.txt")"
grep -aq '@PJL SET FILEBOXPASSWORD="4711"' "$top/out/Quarterly.prn" || fail "the PIN did not reach the job"
ipp_from 127.0.0.1 "$base/ipp/print/Office" Print-Job requesting-user-name=name:alice job-name=name:Twice \
  job-password=octet:4711 job-password=octet:4711 --file "$top/doc.pdf" >/dev/null
ipptool -t -d user=mallory "$uri" "$tests/no-job-password.test" >"$top/ipp.txt" || fail "job-password shown: $(cat "$top/ipp.txt")"
grep -q 4711 "$top/log" && fail "the log holds a PIN: $(grep 4711 "$top/log" | head -n 2)"
unreadable=$(find "$top/state" \( -type f ! -perm 600 \) -o \( -type d ! -perm 700 \))
[[ -z $unreadable ]] || fail "files others may read: $unreadable"
pin=$(ipptool -t -d user=alice -d pin=123456789012345678901234567890123 -f "$top/doc.pdf" "$uri" "$tests/submit-pin.test" 2>&1 |
  sed -n 's/.*job-id (integer) = \([0-9]*\).*/\1/p' | head -n 1)
wait_state "$uri" "$pin" 20 aborted || fail "a 33-byte PIN did not abort its job"
job_message "$uri" "$pin" | grep -q "job-password" || fail "no reason for the refused PIN: $(job_message "$uri" "$pin")"

# A box name as long as IPP allows is refused with a reason cut between two characters.
boxed=$(ipp_from 127.0.0.1 "$base/ipp/print/Office" Print-Job requesting-user-name=name:alice --job \
  "file-box-name=text:$(printf '\xc3\xa9%.0s' $(seq 16383))" --file "$top/doc.pdf" | sed -n 's/^job-id //p')
wait_state "$uri" "$boxed" 20 aborted || fail "a 32 KB box name did not abort its job"
job_message "$uri" "$boxed" | python3 -c 'import sys; sys.stdin.buffer.read().decode("utf-8")' ||
  fail "the reason for the long box name is not UTF-8"

# An overlay deleted while a job that plays it prints is told in the job's state message:
# the job's print host is stopped in mid-job while the overlay is deleted.
ipptool -t -d mode=create -d overlay=Bar -d position=over -d state=9 -d title=Bar -f "$top/doc.pdf" "$uri" \
  "$tests/print-overlay.test" >"$top/ipp.txt" || fail "the capture of Bar: $(cat "$top/ipp.txt")"
printf '%%!PS\n1 1 30 { /Helvetica findfont 24 scalefont setfont 72 700 moveto 3 string cvs show showpage } for\n' |
  ps2pdf - "$top/long.pdf" || fail "ps2pdf long"
ipptool -t -d mode=one -d overlay=Bar -d position=over -d state=9 -d title=WithBar -f "$top/long.pdf" "$uri" \
  "$tests/print-overlay.test" >"$top/withbar.txt" 2>&1 &
withbar=$!
for _ in $(seq 500); do print_host=$(pgrep -f -- "print --printer=Office --output=$top/state/spool/") && break; sleep 0.02; done
[[ -n $print_host ]] && kill -STOP $print_host
deleted=$(curl -s -F "session=$session" -F action=overlay-delete -F overlay-name=Bar "$page" | tr '\n' ' ' |
  sed -n 's/.*id="message"[^>]*>\([^<]*\)<.*/\1/p')
[[ -n $print_host ]] && kill -CONT $print_host
[[ $deleted == "Overlay &#39;Bar&#39; deleted." ]] || fail "Bar was not deleted: $deleted"
wait "$withbar" || fail "the job that plays Bar: $(cat "$top/withbar.txt")"
played=$(sed -n 's/.*job-id (integer) = \([0-9]*\).*/\1/p' "$top/withbar.txt" | head -n 1)
job_message "$uri" "$played" | grep -q "overlay 'Bar' was deleted while the job printed" ||
  fail "no word of the deleted overlay: $(job_message "$uri" "$played")"

# Overlay capture and other users' jobs: an administrator's.
[[ $(ipp_from 127.0.0.2 "$base/ipp/print/Office" Print-Job requesting-user-name=name:mallory \
  overlay-mode=keyword:create --file "$top/doc.pdf") == "HTTP 403"* ]] || fail "overlay-mode=create taken from another machine"
victim=$(submit "$backup" application/postscript Victim alice "$top/loop.ps")
[[ -n $victim ]] || fail "no job id for the victim's job"
[[ $(ipp_from 127.0.0.2 "$base/ipp/print/Backup" Cancel-Job requesting-user-name=name:mallory job-id=integer:"$victim") \
  == "HTTP 403"* ]] || fail "another machine's user canceled alice's job"
for operation in Cancel-Current-Job Disable-Printer Enable-Printer; do
  [[ $(ipp_from 127.0.0.2 "$base/ipp/print/Backup" "$operation" requesting-user-name=name:mallory) == "HTTP 403"* ]] ||
    fail "$operation taken from another machine's user"
done

# A job that runs for ever ends on its processor-time limit, while the other printer prints.
wait_state "$backup" "$victim" 10 processing || fail "the endless job did not start"
other=$(submit "$uri" application/pdf Meanwhile bob "$top/doc.pdf")
wait_state "$uri" "$other" 20 completed || fail "Office waited for Backup's job"
wait_state "$backup" "$victim" 30 aborted || fail "the endless job did not end on its time limit"
job_message "$backup" "$victim" | grep -q "processor-time limit" || fail "no time-limit reason: $(job_message "$backup" "$victim")"

# Cancel-Job ends the job's Ghostscript at once.
looping=$(submit "$backup" application/postscript Looping alice "$top/loop.ps")
for _ in $(seq 50); do gs_of "p" && break; sleep 0.1; done
gs_of "p" || fail "no Ghostscript for the endless job"
ipptool -t -d job="$looping" -d user=alice "$backup" "$tests/cancel-job.test" >"$top/ipp.txt" || fail "Cancel-Job: $(cat "$top/ipp.txt")"
for _ in $(seq 20); do gs_of "p" || break; sleep 0.1; done
gs_of "p" && fail "Ghostscript still runs two seconds after Cancel-Job"

# The memory eater ends on its memory limit; a huge picture is refused before decoding.
eater=$(submit "$backup" application/postscript Eater alice "$top/eater.ps")
wait_state "$backup" "$eater" 60 aborted || fail "the memory eater did not end"
job_message "$backup" "$eater" | grep -q "memory limit" || fail "no memory-limit reason: $(job_message "$backup" "$eater")"
python3 - "$top/huge.png" <<'EOF'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
header = struct.pack(">IIBBBBB", 30000, 30000, 8, 0, 0, 0, 0)
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"\0" * 30001 * 4)) + chunk(b"IEND", b""))
EOF
huge=$(submit "$uri" image/png Huge alice "$top/huge.png")
wait_state "$uri" "$huge" 10 aborted || fail "the 900-megapixel PNG was not refused"
job_message "$uri" "$huge" | grep -q "megapixels" || fail "no reason for the huge PNG: $(job_message "$uri" "$huge")"
# A PWG raster page is held to the same budget: 57 KB describe 30000 x 30000 white pixels.
python3 - "$top/huge.pwg" <<'EOF'
import struct, sys
size, header = 30000, bytearray(1796)
header[0:9] = b"PwgRaster"
for offset, value in ((276, 600), (280, 600), (352, 3600), (356, 3600), (372, size), (376, size), (384, 8),
                      (388, 8), (392, size), (400, 18), (420, 1)):
    struct.pack_into(">I", header, offset, value)
line = b"\x7f\xff" * (size // 128) + bytes([size % 128 - 1, 0xFF])
open(sys.argv[1], "wb").write(b"RaS2" + header + (b"\xff" + line) * (size // 256) + bytes([size % 256 - 1]) + line)
EOF
huge=$(submit "$uri" image/pwg-raster HugeRaster alice "$top/huge.pwg")
wait_state "$uri" "$huge" 10 aborted || fail "the 900-megapixel PWG raster page was not refused"
job_message "$uri" "$huge" | grep -q "megapixels" || fail "no reason for the huge raster: $(job_message "$uri" "$huge")"

# A job name with line breaks changes nothing the application loads after a restart.
# The lines close Office's block, open one of the attacker's, and open Office's again.
injected='x\n</Printer>\n<Printer id=9 name=Injected did= uri=socket://127.0.0.1:9 driver=velmora_pxl>\n</Printer>\n'
injected+='<Printer id=1 name=Office did= uri=file://'"$top"'/out driver=velmora_pxl>\nJob id=77 name=x username=y'
ipp_from 127.0.0.1 "$base/ipp/print/Office" Print-Job requesting-user-name=name:alice "job-name=name:$injected" \
  --file "$top/doc.pdf" >/dev/null
ipp_from 127.0.0.2 "$base/ipp/print/Office" Print-Job requesting-user-name=text:mallory \
  "requesting-user-name=name:${injected/id=9 name=Injected/id=8 name=Injected2}" --file "$top/doc.pdf" >/dev/null

# A kill in mid-job: no Ghostscript outlives the application, the next start aborts the
# interrupted job, removes its files, and prints the job that was waiting.
interrupted=$(submit "$backup" application/postscript Interrupted alice "$top/loop.ps")
wait_state "$backup" "$interrupted" 10 processing || fail "the job to interrupt did not start"
waiting=$(submit "$backup" application/pdf Waiting alice "$top/doc.pdf")
# PAPPL saves its state file after the request; a loaded machine (the sanitizer build beside
# other tests) may take seconds. A job the file does not hold yet is lost by the kill.
for _ in $(seq 300); do grep -q 'name="Waiting"' "$top/state/pappl.state" 2>/dev/null && break; sleep 0.1; done
grep -q 'name="Waiting"' "$top/state/pappl.state" || fail "the waiting job never reached the state file"
kill -KILL "$app_pid"
wait "$app_pid" 2>/dev/null
app_pid=
for _ in $(seq 30); do gs_of "p" || break; sleep 0.1; done
gs_of "p" && fail "Ghostscript outlived the killed application"
start_app
for injected_printer in Injected Injected2; do
  ipptool -q "ipp://127.0.0.1:$port/ipp/print/$injected_printer" get-printer-attributes.test 2>/dev/null &&
    fail "a name added the printer $injected_printer through the state file"
done
wait_state "$backup" "$interrupted" 5 aborted || fail "the interrupted job is $(job_state "$backup" "$interrupted") after the restart"
wait_state "$backup" "$waiting" 30 completed || fail "the waiting job did not print after the restart"
ls -A "$top/state/spool" | grep -q velmora- && fail "the host's files of the killed job are left: $(ls -A "$top/state/spool")"
stop_app || fail "the application did not shut down cleanly"

# Remote administration: TLS, then a password PAM accepts for a member of the group.
start_app --remote-admin --admin-group velmora-test-admins
# Plain HTTP is sent to TLS: PAPPL redirects a page (301), a request is asked to upgrade (426).
code=$(http_code --interface 127.0.0.2 "$base/addprinter")
[[ $code == 301 || $code == 426 ]] || fail "remote administration without TLS ($code)"
https=https://127.0.0.1:$port
[[ $(http_code -k --interface 127.0.0.2 -u root:wrong "$https/addprinter") == 401 ]] || fail "a wrong password was taken"
if [[ $(id -u) -eq 0 ]] && command -v useradd >/dev/null && command -v chpasswd >/dev/null; then
  test_user=velmora-sec-test
  groupadd velmora-test-admins && useradd -M -N -G velmora-test-admins "$test_user" &&
    echo "$test_user:Right-Password-1" | chpasswd || fail "cannot make the test administrator"
  [[ $(http_code -k --interface 127.0.0.2 -u "$test_user:Right-Password-1" "$https/addprinter") == 200 ]] ||
    fail "the administrator's right password was refused"
  gpasswd -d "$test_user" velmora-test-admins >/dev/null
  [[ $(http_code -k --interface 127.0.0.2 -u "$test_user:Right-Password-1" "$https/addprinter") == 401 ]] ||
    fail "a user outside the administrators' group was let in"
fi
stop_app || fail "the application did not shut down cleanly"

echo "PASS: administration, devices, PINs, names, limits, cancel, images, overlays, kill and restart"
