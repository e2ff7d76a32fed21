#!/usr/bin/env bash
# A real CUPS queue with the Velmora PPD and filter: starts its own cupsd on a loopback
# port in a temporary folder (a file: queue; filters run as lp when the test runs as
# root), prints text and PDFs with lp and checks each finished job, read back with gpcl6
# where the pages matter: orientation against CUPS's own pdftopdf chain (Debian's stock
# pxlmono.ppd), page order, N-up layout, copies. The daemon is stopped by its process id
# whatever happens.
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
# CUPS runs only filters that are real files owned by root (or by the user running it);
# text and images reach the queue through CUPS's own texttopdf and imagetopdf.
cp "$filter" "$top/serverbin/filter/velmora-pxl"
for other in texttopdf imagetopdf; do
  cp "$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)/filter/$other" "$top/serverbin/filter/" ||
    fail "no $other filter (cups-filters)"
done
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

# The queue's values in the system store, written as an administrator writes them.
export VELMORA_STORE=$top/system/spooler.db XDG_DATA_HOME=$top/system
"$velmora" printer add Office >/dev/null || fail "velmora printer add"
"$velmora" printer set Office UserAuthentication=0 >/dev/null || fail "velmora printer set"
"$velmora" watermark set --printer Office 1 text=CONFIDENTIAL >/dev/null || fail "velmora watermark set"
unset VELMORA_STORE XDG_DATA_HOME

source "$(dirname "$0")/private_cupsd.sh"
start_private_cupsd "$top" "$port" "LogLevel info" "JobRetryInterval 1" || fail "cupsd did not start"

lpadmin -p Office -E -v "file://$top/out/office.pxl" -P "$ppd" -o printer-error-policy=abort-job || fail "lpadmin"

cat >"$top/doc.ps" <<'EOF'
%!PS
/Helvetica findfont 24 scalefont setfont
1 1 5 { /n exch def 72 700 moveto (Page ) show n 3 string cvs show showpage } for
EOF
ps2pdf "$top/doc.ps" "$top/doc.pdf" || fail "ps2pdf"
head -c 1500 "$top/doc.pdf" >"$top/broken.pdf"
# Page n holds n squares in a row at its top left corner: a sheet's ink tells its page,
# the squares' corner how the page lies on the sheet.
squares='/squares { /n exch def 0 1 n 1 sub { 70 mul 36 add currentpagedevice /PageSize get 1 get 96 sub 60 60
  rectfill } for showpage } def'
printf '%s\n' '%!PS' "$squares" '1 1 5 { squares } for' >"$top/blocks.ps"
printf '%s\n' '%!PS' "$squares" '1 squares' >"$top/portrait.ps"
printf '%s\n' '%!PS' '<< /PageSize [842 595] >> setpagedevice' "$squares" '1 squares' >"$top/landscape.ps"
for name in blocks portrait landscape; do ps2pdf "$top/$name.ps" "$top/$name.pdf" || fail "ps2pdf $name"; done
gs -q -dSAFER -sDEVICE=pnggray -r30 -o "$top/portrait.png" "$top/portrait.ps" || fail "gs png"
seq 1 200 | sed 's/^/A line of plain text, number /' >"$top/notes.txt"
# A PDF whose cross-reference offset is wrong (Ghostscript repairs it and renders every
# page), and one whose last page cannot be decoded (Ghostscript cannot render it).
python3 - "$top" <<'EOF' || fail "writing the damaged PDFs"
import re, sys, zlib
top = sys.argv[1]
doc = open(top + "/doc.pdf", "rb").read()
open(top + "/repairable.pdf", "wb").write(re.sub(rb"startxref\s+\d+", b"startxref\n12345", doc))
# Pages of 3,000 small squares each make a job larger than the filter's spool buffer.
grid = b" ".join(b"%d %d 4 4 re f" % (40 + 8 * (i % 60), 40 + 12 * (i // 60)) for i in range(3000))
pages = [zlib.compress(grid)] * 4 + [b"not deflated"]
kids = b" ".join(b"%d 0 R" % (3 + 2 * i) for i in range(len(pages)))
objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [%s] /Count %d >>" % (kids, len(pages))]
for i, content in enumerate(pages):
    objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents %d 0 R >>" % (4 + 2 * i))
    objects.append(b"<< /Length %d /Filter /FlateDecode >>\nstream\n%s\nendstream" % (len(content), content))
out, offsets = bytearray(b"%PDF-1.4\n"), []
for number, body in enumerate(objects, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
open(top + "/lastbroken.pdf", "wb").write(out)
EOF

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
# The sheets of a job file as gpcl6 images them, one line each: the sheet's shape, the
# corner its ink lies towards, its quadrants that hold ink from the least to the most,
# and its ink in thousandths.
gpcl6=$(cd "$(dirname "$0")/../../shared/tools" 2>/dev/null && pwd)/gpcl6
sheets() {
  rm -rf "$top/pgm" && mkdir "$top/pgm"
  "$gpcl6" -dNOPAUSE -dBATCH -sDEVICE=pgmraw -r20 -sOutputFile="$top/pgm/%03d.pgm" "$1" >"$top/pgm/said.txt" 2>&1
  grep -q "PCL XL error" "$top/pgm/said.txt" && fail "gpcl6 rejects $1: $(cat "$top/pgm/said.txt")"
  python3 - "$top"/pgm/*.pgm <<'EOF'
import sys
for path in sys.argv[1:]:
    data = open(path, "rb").read()
    fields = [line for line in data.split(b"\n")[:4] if not line.startswith(b"#")]
    width, height = map(int, fields[1].split())
    pixels = data[len(data) - width * height:]
    ink = {"TL": 0, "TR": 0, "BL": 0, "BR": 0}
    xs = ys = count = 0
    for y in range(height):
        for x in range(width):
            if pixels[y * width + x] < 128:
                ink[("T" if y < height / 2 else "B") + ("L" if x < width / 2 else "R")] += 1
                xs, ys, count = xs + x, ys + y, count + 1
    corner = "none" if count == 0 else ("T" if ys / count < height / 2 else "B") + ("L" if xs / count < width / 2 else "R")
    order = ",".join(sorted((q for q in ink if ink[q]), key=lambda q: ink[q]))
    print("portrait" if height > width else "landscape", corner, order or "-", 1000 * count // (width * height))
EOF
}

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

# Text goes through CUPS's texttopdf, whose PDF Ghostscript repairs; so does a PDF with a
# wrong cross-reference offset. Both print whole, with a warning.
[[ $(print -t Notes "$top/notes.txt") == completed ]] || fail "the text job did not complete"
keep text
has text '@PJL JOB NAME="Notes"'
[[ $(count text BeginPage) -ge 2 ]] || fail "the text job lacks its pages"
# An image comes through CUPS's imagetopdf straight to the filter.
[[ $(print "$top/portrait.png") == completed ]] || fail "the image job did not complete"
[[ $(print "$top/repairable.pdf") == completed ]] || fail "the repairable PDF did not complete"
keep repaired
[[ $(count repaired BeginPage) -eq 5 ]] || fail "the repaired PDF lacks pages"
grep -q "repaired" "$top/log/error_log" || fail "no warning for the repaired PDF"

# A document that fails on its last page, after pages worth more than the filter's
# buffer, sends the printer nothing; its state message names the job's title.
[[ $(print -t Ledger "$top/lastbroken.pdf") != completed ]] || fail "the PDF with a broken last page completed"
[[ ! -s $top/out/office.pxl ]] || fail "the failed job sent $(stat -c %s "$top/out/office.pxl") bytes to the printer"
grep -q "Unable to print 'Ledger'" "$top/log/error_log" || fail "the failure does not name the job's title"

# Collated copies are made by the printer once: three of the job, one of each page.
[[ $(print -n 3 -o collate=true "$top/doc.pdf") == completed ]] || fail "the collated job did not complete"
keep collated
has collated '@PJL SET QTY=3'
[[ $(count collated 'EndPage PageCopies=1') -eq 5 ]] || fail "the collated job asks for copies of each page too"

# A queue that cannot read what a job asks for fails the job with the file or folder and
# the reason, and sends nothing: the system folder, the queue's watermark folder, a
# bitmap watermark's image, the overlay folder.
cp "$top/portrait.png" "$top/logo.png"
export VELMORA_STORE=$top/system/spooler.db XDG_DATA_HOME=$top/system
"$velmora" watermark set --printer Office 2 "image=$top/logo.png" >/dev/null || fail "velmora watermark set image"
"$velmora" printer set Office "OvelayDirectory=$top/forms" 'OvelayFiles=form.ovl' >/dev/null ||
  fail "velmora printer set overlays"
unset VELMORA_STORE XDG_DATA_HOME
while IFS='|' read -r locked option reason; do
  chmod 000 "$top/$locked"
  state=$(print -o "$option" "$top/doc.pdf")
  chmod 755 "$top/$locked"
  [[ $state != completed ]] || fail "the job with $option printed although '$locked' cannot be read"
  [[ ! -s $top/out/office.pxl ]] || fail "the job with $option sent $(stat -c %s "$top/out/office.pxl") bytes"
  grep -qF "$top/$reason" "$top/log/error_log" || fail "no error says '$top/$reason'"
done <<'CASES'
system|WatermarkFirst=1|system' cannot be read
system/VELMORA IT Co/Office|WatermarkFirst=1|system/VELMORA IT Co/Office' cannot be read: Permission denied
logo.png|WatermarkFirst=2|logo.png' of watermark section 2 cannot be read: Permission denied
forms|OverlayMode=One|forms' cannot be read: Permission denied
CASES

if [[ ! -x $gpcl6 ]]; then
  echo "SKIP (in part): gpcl6 is not in ../shared/tools; the sheets are not read back"
else
  # Page order: reversed, and 4-up bottom to top, then left to right.
  [[ $(print -o outputorder=reverse "$top/blocks.pdf") == completed ]] || fail "the reversed job did not complete"
  keep reversed
  sheets "$top/out/reversed.pxl" | awk '{ print $4 }' | sort -nrc 2>/dev/null ||
    fail "the reversed job's sheets are not last page first: $(sheets "$top/out/reversed.pxl" | awk '{ print $4 }')"
  [[ $(print -o number-up=4 -o number-up-layout=btlr "$top/blocks.pdf") == completed ]] || fail "the btlr job failed"
  keep btlr
  [[ $(sheets "$top/out/btlr.pxl" | awk 'NR == 1 { print $3 }') == BL,TL,BR,TR ]] ||
    fail "4-up btlr does not read bottom to top: $(sheets "$top/out/btlr.pxl")"

  # Orientation as CUPS's own filters print it: pdftopdf, then Ghostscript's pxlmono,
  # through Debian's stock PPD.
  stock=/usr/share/ppd/cupsfilters/pxlmono.ppd
  if [[ ! -f $stock ]] || ! command -v cupsfilter >/dev/null; then
    echo "SKIP (in part): no $stock or cupsfilter; orientation is not compared with CUPS's own filters"
  else
    # An image is turned by imagetopdf, which the filter does not turn again.
    for document in portrait.pdf landscape.pdf portrait.png; do
      for orientation in 3 4 5 6; do
        [[ $(print -o media=A4 -o orientation-requested=$orientation "$top/$document") == completed ]] ||
          fail "the $document job with orientation $orientation did not complete"
        keep turned
        cupsfilter -e -p "$stock" -m printer/foo -o media=A4 -o orientation-requested=$orientation \
          "$top/$document" >"$top/out/stock.pxl" 2>/dev/null ||
          fail "cupsfilter with $stock"
        ours=$(sheets "$top/out/turned.pxl" | awk '{ print $1, $2 }')
        theirs=$(sheets "$top/out/stock.pxl" | awk '{ print $1, $2 }')
        [[ $ours == "$theirs" ]] ||
          fail "a $document page with orientation-requested=$orientation lies $ours, CUPS's filters print it $theirs"
      done
    done
  fi
fi

echo "PASS: held, 4-up with watermarks, duplex, text, repaired, broken, collated, reversed, btlr and turned jobs" \
  "through cupsd (filters as $run_as)"
