#!/usr/bin/env bash
# The CUPS filter with the generated PPD under cupsfilter (no daemon): job lines from
# CUPS's job, options mapped, 4-up with a watermark in every cell, warnings and errors.
# Usage: cups_filter_test.sh VELMORA FILTER PPD MODULE
set -uo pipefail
velmora=$1 filter=$2 ppd=$3
export VELMORA_MODULE=$4

for program in cupsfilter cupstestppd ps2pdf; do
  if ! command -v "$program" >/dev/null; then
    echo "SKIP: $program is not installed (scripts/install-deps installs cups, cups-client, ghostscript)"
    exit 77
  fi
done

top=$(mktemp -d /tmp/velmora-cupsfilter-XXXXXX)
trap 'rm -rf "$top"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

cupstestppd -W filters "$ppd" >"$top/ppd.txt" 2>&1 || { cat "$top/ppd.txt"; fail "cupstestppd"; }
# Its only warnings are of the filter, which is not installed where it looks.
! grep WARN "$top/ppd.txt" | grep -v 'Missing cupsFilter2 file' || fail "cupstestppd warns"

# cupsfilter takes the PPD's filters from its server folder.
mkdir -p "$top/serverbin/filter" "$top/system"

# cupsfilter names the printer "cupsfilter"; its values sit in the system store.
export VELMORA_STORE=$top/system/spooler.db XDG_DATA_HOME=$top/system
"$velmora" printer add cupsfilter >/dev/null || fail "velmora printer add"
"$velmora" printer set cupsfilter UserAuthentication=0 >/dev/null || fail "velmora printer set"
"$velmora" watermark set --printer cupsfilter 1 text=CONFIDENTIAL >/dev/null || fail "velmora watermark set"
unset VELMORA_STORE XDG_DATA_HOME
# cupsfilter gives its filters an environment of its own: the test's settings reach the
# filter through a wrapper in the server folder.
# A file "fsize" limits the size of every file the filter writes, in KiB: writes beyond it
# fail (EFBIG) instead of ending the filter.
printf '%s\n' '#!/bin/sh' "export VELMORA_SYSTEM_FOLDER='$top/system' VELMORA_MODULE='$VELMORA_MODULE'" \
  "export LSAN_OPTIONS='${LSAN_OPTIONS:-}'" \
  "if [ -f '$top/fsize' ]; then trap '' XFSZ; ulimit -f \"\$(cat '$top/fsize')\"; fi" \
  "exec '$filter' \"\$@\"" >"$top/serverbin/filter/velmora-pxl"
chmod 755 "$top/serverbin/filter/velmora-pxl"
echo "ServerBin $top/serverbin" >"$top/cups-files.conf"

printf '%s\n' '%!PS' '/Helvetica findfont 24 scalefont setfont' \
  '1 1 5 { /n exch def 72 700 moveto (Page ) show n 3 string cvs show showpage } for' >"$top/doc.ps"
ps2pdf "$top/doc.ps" "$top/doc.pdf" || fail "ps2pdf"
printf 'neither PDF nor PostScript\n' >"$top/notes.pdf"
# One page of 60,000 small squares: an overlay of about 700 KB.
printf '%s\n' '%!PS' '0 1 299 { /y exch def 0 1 199 { 3 mul 20 add y 2.5 mul 20 add 2 2 rectfill } for } for showpage' \
  >"$top/dense.ps"
ps2pdf "$top/dense.ps" "$top/dense.pdf" || fail "ps2pdf dense"

# Runs the filter on a document with cupsfilter's arguments; the job goes to NAME.pxl,
# the messages to NAME.txt. Answers the exit status.
run() {
  local name=$1 document=$2
  shift 2
  cupsfilter -e -c "$top/cups-files.conf" -p "$ppd" -m printer/foo -i application/pdf "$@" "$document" \
    >"$top/$name.pxl" 2>"$top/$name.txt"
}
has() { grep -aqF -- "$2" "$top/$1" || fail "$1 lacks '$2'"; }
lacks() { ! grep -aqF -- "$2" "$top/$1" || fail "$1 has '$2'"; }
count() { "$velmora" dump "$top/$1.pxl" | grep -c "$2"; }

# Each case: options, then the lines the job or the messages must hold.
run held "$top/doc.pdf" -U alice -t Quarterly -o HoldMode=Locked -o job-password=1234 -o FileBoxName=Finance ||
  fail "the held job: $(cat "$top/held.txt")"
for line in '@PJL JOB NAME="Quarterly"' 'UserName=alice' '@PJL SET HOLD=LOCKED' \
  '@PJL SET FILEBOXNAME="Finance"' '@PJL SET FILEBOXPASSWORD="1234"'; do
  has held.pxl "$line"
done

# A PIN alone, as a print dialog sends it when the PPD asks for one: a locked job whose PIN
# reaches the header and none of the filter's messages (cupsfilter's own DEBUG lines
# repeat the filter's arguments, as cupsd's debug log does).
run pin "$top/doc.pdf" -o job-password=4711 || fail "the PIN job: $(cat "$top/pin.txt")"
has pin.pxl '@PJL SET HOLD=LOCKED'
has pin.pxl '@PJL SET FILEBOXPASSWORD="4711"'
! grep -v '^DEBUG: ' "$top/pin.txt" | grep -q 4711 || fail "a message of the filter shows the PIN"
# A PIN the printer cannot take (too long, a control byte, a quote the header would change)
# fails the job: printed without it, the job would not wait for its owner. The error names
# the option, never the PIN.
for pin in "$(printf '7%.0s' {1..33})" 47$'\x01'11 '47"11'; do
  if run badpin "$top/doc.pdf" -o "job-password=$pin"; then fail "the job with an unusable PIN printed"; fi
  has badpin.txt 'ERROR: The job cannot be printed: option job-password '
  lacks badpin.pxl '@PJL'
  ! grep -v '^DEBUG: ' "$top/badpin.txt" | grep -qF "$pin" || fail "a message of the filter shows the PIN"
done

run mapped "$top/doc.pdf" -n 3 -o sides=two-sided-short-edge -o media=Letter -o Collate=True \
  -o Resolution=1200dpi -o EconoMode=True -o OutputBin=Upper -o TonerDarkness=9 -o MediaType=Thick ||
  fail "the mapped job: $(cat "$top/mapped.txt")"
for line in '@PJL SET PAPER=LETTER' '@PJL SET RESOLUTION=1200' '@PJL SET MEDIATYPE=THICK' '@PJL SET OUTBIN=UPPER' \
  '@PJL SET DUPLEX=ON' '@PJL SET BINDING=SHORTEDGE' '@PJL SET ECONOMODE=ON' '@PJL SET TONERDARKNESS=9' \
  '@PJL SET QTY=3'; do
  has mapped.pxl "$line"
done

# page-set keeps the odd or even sheet sides of those page-ranges name, as CUPS's pdftopdf
# does: of pages 2-4 the odd set is 3, and an even set of an odd count gets a blank side.
# page-ranges names each page once, in the document's order, whatever order the list has;
# a list past the last page number (99999999) is refused and every page printed, and one
# too long for Ghostscript's command line is picked by the host. A booklet-signature
# without a booklet is ignored.
# Each case: options, sheets of the 5-page document (or "fails" with the line).
while IFS='|' read -r options sheets line; do
  # shellcheck disable=SC2086
  if run pageset "$top/doc.pdf" $options; then
    [[ $sheets != fails ]] || fail "the job with $options printed"
    [[ $(count pageset BeginPage) -eq $sheets ]] || fail "$options does not print $sheets sheets"
  else
    [[ $sheets == fails ]] || fail "the job with $options: $(cat "$top/pageset.txt")"
    has pageset.txt "$line"
  fi
done <<'CASES'
-o page-set=odd|3|
-o page-set=even|2|
-o page-ranges=2-4 -o page-set=odd|1|
-o page-ranges=1,3-5 -o page-set=even|2|
-o page-ranges=3- -o page-set=odd|2|
-o page-ranges=4,2|2|
-o page-ranges=2-3,1-2,,3-4|4|
-o page-ranges=-3 -o page-set=odd|2|
-o page-ranges=6-9|fails|ERROR: Unable to print 'doc.pdf': the document has none of the pages 6-9
-o page-set=ODD|3|
-o booklet=on -o booklet-signature=6|fails|ERROR: option booklet-signature '6' is not a multiple of 4
-o booklet-signature=6|5|
-o number-up=4 -o page-ranges=600000000|2|
-o number-up=2 -o page-set=odd -o page-ranges=1-1999|2|
-o page-ranges=2 -o page-set=odd|fails|ERROR: The job prints nothing: option page-ranges '2' names no odd page, and page-set keeps only the odd ones
-o number-up=2 -o page-ranges=4- -o page-set=odd|fails|ERROR: None of the job's 3 sheet side(s) is among those it picks: sheet sides '4-', of them the odd ones
CASES

# An image (imagetopdf's one-page PDF) prints on one page whatever sheet layout or pages
# the job asks for, as CUPS's own chain prints it, with a warning naming the option.
gs -q -dSAFER -sDEVICE=pdfwrite -dLastPage=1 -o "$top/image.pdf" "$top/doc.pdf" || fail "gs image.pdf"
for option in booklet=on page-set=even page-ranges=2; do
  CONTENT_TYPE=image/png PPD=$ppd VELMORA_SYSTEM_FOLDER=$top/system "$filter" 9 alice Image 1 "$option" \
    "$top/image.pdf" >"$top/image.pxl" 2>"$top/image.txt" || fail "the image with $option: $(cat "$top/image.txt")"
  [[ $(count image BeginPage) -eq 1 ]] || fail "the image with $option is not one page"
  has image.txt "WARNING: option ${option%%=*} '${option#*=}' is not applied to an image"
done

# A text watermark in each cell that holds a page: one clip more per cell.
run nup "$top/doc.pdf" -o number-up=4 || fail "the 4-up job: $(cat "$top/nup.txt")"
run marked "$top/doc.pdf" -o number-up=4 -o WatermarkFirst=1 || fail "the marked job: $(cat "$top/marked.txt")"
[[ $(count nup BeginPage) -eq 2 ]] || fail "5 pages 4-up are not 2 sheets"
[[ $(($(count marked SetClipReplace) - $(count nup SetClipReplace))) -eq 5 ]] || fail "not a watermark in every cell"
has nup.txt 'PAGE: 2 1'
# page-set and an N-up job's page-ranges keep whole sides: their pages are laid out as a
# document of their own, so the plug-in marks the cells that hold a page, and an even
# set's blank side has none. Each case: options, sheets, watermarks.
while IFS='|' read -r options sheets marks; do
  # shellcheck disable=SC2086
  run kept "$top/doc.pdf" $options || fail "the job with $options: $(cat "$top/kept.txt")"
  # shellcheck disable=SC2086
  run keptmarked "$top/doc.pdf" $options -o WatermarkFirst=1 || fail "the job with $options: $(cat "$top/keptmarked.txt")"
  [[ $(count keptmarked BeginPage) -eq $sheets ]] || fail "$options does not print $sheets sheets"
  [[ $(($(count keptmarked SetClipReplace) - $(count kept SetClipReplace))) -eq $marks ]] ||
    fail "$options does not print $marks watermarks"
done <<'CASES'
-o number-up=4 -o page-set=even|2|1
-o number-up=4 -o page-ranges=2|1|1
-o page-ranges=1-3 -o page-set=even|2|1
CASES

# A value an option does not take: a warning, and the default; a line break in the value
# starts no message of its own for cupsd. A job printed otherwise than it asks says how, in
# the terms of its options.
run warned "$top/doc.pdf" -n 99999999999 -o Staple=Sideways -o page-ranges=0 -o outputorder=reverse -o booklet=true \
  -o "FileBoxName='x"$'\n'"ATTR: job-hacked=1'" || fail "the warned job: $(cat "$top/warned.txt")"
for line in "WARNING: option Staple 'Sideways' is not one of None, TopLeft; the default is used" \
  "WARNING: option page-ranges '0': pages count from 1; every page is printed" \
  "WARNING: copies 99999999999: the printer makes at most 999 copies of a job; 999 are printed" \
  "the job's booklet depends on the order the printer takes the sheets in"; do
  has warned.txt "$line"
done
has warned.pxl '@PJL SET STAPLE=OFF'
has warned.pxl '@PJL SET COPIES=999'
awk '/velmora-pxl \(PID [0-9]+\) started/ { on = 1 } on' "$top/warned.txt" | grep -aq '^ATTR: job-hacked' &&
  fail "an option value wrote its own line"

# The title is the user's text: its line breaks start no message of its own for cupsd, the
# message stays short whatever its length, and the job's header lines stay whole.
tail=$(printf 'X%.0s' {1..3000})
run titled "$top/doc.pdf" -t "Memo"$'\n'"ATTR: job-impressions=999"$'\r'"STATE: +injected $tail" ||
  fail "the titled job: $(cat "$top/titled.txt")"
has titled.txt "INFO: Printing 'Memo ATTR: job-impressions=999 STATE: +injected XXX"
# The filter's own lines: cupsfilter echoes the arguments before it starts the filter.
awk '/velmora-pxl \(PID [0-9]+\) started/ { on = 1 } on' "$top/titled.txt" >"$top/titled-filter.txt"
! grep -aqE '^(ATTR: job-impressions=999|STATE: \+injected)' "$top/titled-filter.txt" || fail "the title wrote its own lines"
[[ $(awk 'length > 300' "$top/titled-filter.txt") == "" ]] || fail "a message quotes the whole title"
grep -aqE '^@PJL JOB NAME="Memo ATTR: job-impressions=999 STATE: \+injected X+"'$'\r''$' "$top/titled.pxl" ||
  fail "the job's NAME line is not whole"

# A document that cannot be printed: one ERROR line with the cause, a failure, no job.
if run broken "$top/notes.pdf"; then fail "the broken document printed"; fi
has broken.txt "ERROR: Unable to print"
has broken.txt "not a PDF or PostScript document"
lacks broken.pxl '@PJL'

# An overlay capture that fails part-way, here at the file-size limit: one ERROR line with
# the file and the cause, a failure, no job and no overlay.
mkdir "$top/forms"
VELMORA_STORE=$top/system/spooler.db "$velmora" printer set cupsfilter "OvelayDirectory=$top/forms" \
  'OvelayFiles=Form;form.ovl' >/dev/null || fail "velmora printer set overlays"
echo 400 >"$top/fsize"
if run capture "$top/dense.pdf" -o OverlayMode=Create; then fail "the failed capture printed"; fi
rm "$top/fsize"
has capture.txt "ERROR: Unable to capture the overlay"
has capture.txt "$top/forms/form.ovl.capture"
lacks capture.pxl '@PJL'
[[ -z $(ls -A "$top/forms") ]] || fail "the failed capture left $(ls -A "$top/forms")"

# A watermark image or an overlay file the job cannot use: a folder fails the job, as an
# unreadable file does; a damaged image or a missing overlay file prints the job without
# it and says so. Each case: what the file is, the options, whether the job prints, the line.
gs -q -dSAFER -sDEVICE=pnggray -r10 -dLastPage=1 -o "$top/mark.png" "$top/doc.pdf" || fail "gs mark.png"
VELMORA_STORE=$top/system/spooler.db XDG_DATA_HOME=$top/system "$velmora" watermark set --printer cupsfilter 2 \
  "image=$top/mark.png" >/dev/null || fail "velmora watermark set image"
head -c 200 "$top/mark.png" >"$top/cut.png"
mkdir "$top/forms/folder.ovl"
while IFS='|' read -r kind options status line; do
  case $kind in
    cut) cp "$top/cut.png" "$top/mark.png" ;;
    folder) rm -f "$top/mark.png" && mkdir "$top/mark.png" ;;
    *) VELMORA_STORE=$top/system/spooler.db "$velmora" printer set cupsfilter "OvelayFiles=$kind" >/dev/null ||
      fail "velmora printer set $kind" ;;
  esac
  # shellcheck disable=SC2086
  run unusable "$top/doc.pdf" $options
  result=$?
  [[ $status == ok && $result -eq 0 || $status == fails && $result -ne 0 ]] || fail "the job with the $kind file ended with the wrong status: $(cat "$top/unusable.txt")"
  has unusable.txt "${line//\$top/$top}"
done <<'CASES'
cut|-o WatermarkFirst=2|ok|WARNING: the image '$top/mark.png' of watermark section 2 is not an image the plug-in can read
folder|-o WatermarkFirst=2|fails|ERROR: Unable to apply the job's watermark: the image '$top/mark.png' of watermark section 2 cannot be read: it is a folder
missing.ovl|-o OverlayMode=One|ok|WARNING: The overlay file '$top/forms/missing.ovl' does not exist
folder.ovl|-o OverlayMode=One|fails|ERROR: Unable to apply the job's overlay: the overlay file '$top/forms/folder.ovl' cannot be read: it is a folder
CASES
rmdir "$top/mark.png"

# A job cancelled while it renders (CUPS sends SIGTERM) writes nothing and leaves nothing
# in its temporary folder, where the held job carries its PIN.
mkdir "$top/jobtmp"
printf '%s\n' '%!PS' '{} loop' >"$top/loop.ps"
TMPDIR=$top/jobtmp PPD=$ppd VELMORA_SYSTEM_FOLDER=$top/system "$filter" 7 alice Cancelled 1 \
  'HoldMode=Locked job-password=987654' "$top/loop.ps" >"$top/cancelled.pxl" 2>"$top/cancelled.txt" &
filter_pid=$!
for _ in $(seq 100); do [[ -n $(ls -A "$top/jobtmp") ]] && pgrep -f "dNODISPLAY.*-f$top/loop.ps" >/dev/null && break; sleep 0.1; done
kill -TERM "$filter_pid"
if wait "$filter_pid"; then fail "the cancelled job ended well"; fi
[[ ! -s $top/cancelled.pxl ]] || fail "the cancelled job wrote to standard output"
[[ -z $(ls -A "$top/jobtmp") ]] || fail "the cancelled job left $(ls -A "$top/jobtmp")"

# Ghostscript killed by the system while it renders a sound PDF (the out-of-memory killer):
# the error says so rather than blaming the document, and nothing is written.
printf '%s\n' '#!/bin/sh' 'kill -KILL $$' >"$top/killed-gs"
chmod 755 "$top/killed-gs"
if VELMORA_GS=$top/killed-gs TMPDIR=$top/jobtmp PPD=$ppd VELMORA_SYSTEM_FOLDER=$top/system "$filter" 8 alice Killed 1 '' \
  "$top/doc.pdf" >"$top/killed.pxl" 2>"$top/killed.txt"; then
  fail "the job whose Ghostscript was killed ended well"
fi
has killed.txt "ERROR: Unable to print 'Killed': Ghostscript was ended by signal 9 (SIGKILL)"
[[ ! -s $top/killed.pxl ]] || fail "the job whose Ghostscript was killed wrote to standard output"

# A PDF whose last update was cut off (an editor's incremental save that never ended):
# Ghostscript prints the earlier revision without a word, the filter warns. An update cut
# after its startxref is read whole, and prints without a warning.
python3 - "$top" <<'EOF' || fail "writing the PDFs with cut updates"
import re, sys
top = sys.argv[1]
doc = open(top + "/doc.pdf", "rb").read()
size = int(re.findall(rb"/Size (\d+)", doc)[-1])
root = re.findall(rb"/Root (\d+ \d+ R)", doc)[-1]
obj = b"%d 0 obj\n<< /Title (Revised) >>\nendobj\n" % size
update = obj + b"xref\n0 1\n0000000000 65535 f \n%d 1\n%010d 00000 n \n" % (size, len(doc))
update += b"trailer\n<< /Size %d /Root %s /Info %d 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n" % (
    size + 1, root, size, int(re.findall(rb"startxref\s+(\d+)", doc)[-1]), len(doc) + len(obj))
open(top + "/cutupdate.pdf", "wb").write(doc + update[:update.index(b"trailer") + 4])
open(top + "/endlessupdate.pdf", "wb").write(doc + update[:update.rindex(b"%%EOF")])
EOF
for name in cutupdate endlessupdate; do
  run $name "$top/$name.pdf" || fail "the $name PDF: $(cat "$top/$name.txt")"
  [[ $(count $name BeginPage) -eq 5 ]] || fail "the $name PDF lacks pages"
done
has cutupdate.txt "WARNING: The PDF ends in an update that was cut off"
lacks endlessupdate.txt "WARNING: The PDF ends in an update"

# N-up sheets as CUPS's own filters lay them out (pdftopdf, then Ghostscript's pxlmono,
# through Debian's stock PPD), read back with gpcl6: page n holds n squares in a row at its
# top left corner, so that each cell tells its page and the corner that page's top left
# corner lies in.
gpcl6=$(cd "$(dirname "$0")/../../shared/tools" 2>/dev/null && pwd)/gpcl6
stock=/usr/share/ppd/cupsfilters/pxlmono.ppd
if [[ ! -x $gpcl6 || ! -f $stock ]]; then
  echo "SKIP (in part): no gpcl6 in ../shared/tools or no $stock; N-up is not compared with CUPS's own filters"
else
  squares='/squares { /n exch def 0 1 n 1 sub { 50 mul 36 add currentpagedevice /PageSize get 1 get 76 sub 40 40
    rectfill } for showpage } def'
  printf '%s\n' '%!PS' "$squares" '1 1 6 { squares } for' >"$top/tall.ps"
  printf '%s\n' '%!PS' '<< /PageSize [842 595] >> setpagedevice' "$squares" '1 1 6 { squares } for' >"$top/wide.ps"
  for name in tall wide; do ps2pdf "$top/$name.ps" "$top/$name.pdf" || fail "ps2pdf $name"; done
  # Each sheet's cells, rows top to bottom: the page in each (its count of squares) and the
  # cell's corner nearest to its first square; sheets are separated by " / ".
  cells() {
    rm -f "$top"/cell-*.pgm
    "$gpcl6" -dNOPAUSE -dBATCH -sDEVICE=pgmraw -r60 -sOutputFile="$top/cell-%02d.pgm" "$2" >/dev/null 2>&1
    python3 - "$1" "$top"/cell-*.pgm <<'EOF'
import sys
columns, rows = {1: (1, 1), 2: (1, 2), 4: (2, 2), 6: (2, 3), 9: (3, 3), 16: (4, 4)}[int(sys.argv[1])]
sheets = []
for path in sys.argv[2:]:
  data = open(path, "rb").read()
  header = [line for line in data.split(b"\n")[:4] if not line.startswith(b"#")]
  width, height = map(int, header[1].split())
  pixels = data[len(data) - width * height:]
  seen, squares = bytearray(width * height), []
  for start in range(width * height):
      if pixels[start] >= 128 or seen[start]:
          continue
      stack, xs, ys, count = [start], 0, 0, 0
      seen[start] = 1
      while stack:
          at = stack.pop()
          x, y = at % width, at // width
          xs, ys, count = xs + x, ys + y, count + 1
          for near in ([at - 1] if x > 0 else []) + ([at + 1] if x < width - 1 else []) + [at - width, at + width]:
              if 0 <= near < width * height and pixels[near] < 128 and not seen[near]:
                  seen[near] = 1
                  stack.append(near)
      squares.append((xs / count, ys / count))
  lines = []
  for row in range(rows):
      line = []
      for column in range(columns):
          x0, x1 = width * column / columns, width * (column + 1) / columns
          y0, y1 = height * row / rows, height * (row + 1) / rows
          inside = [(x, y) for x, y in squares if x0 <= x < x1 and y0 <= y < y1]
          corners = {"TL": (x0, y0), "TR": (x1, y0), "BL": (x0, y1), "BR": (x1, y1)}
          distances = [((x - cx) ** 2 + (y - cy) ** 2, name) for x, y in inside for name, (cx, cy) in corners.items()]
          line.append("%d%s" % (len(inside), min(distances)[1] if inside else ""))
      lines.append(" ".join(line))
  sheets.append(" | ".join(lines))
print(" / ".join(sheets))
EOF
  }
  # An image comes through CUPS's imagetopdf, which fills the sheet with it whatever the
  # pages per sheet: its PDF reaches the printer's filter without pdftopdf.
  gs -q -dSAFER -sDEVICE=pnggray -r50 -dFirstPage=3 -dLastPage=3 -o "$top/tall.png" "$top/tall.pdf" || fail "gs png"
  cp "$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)/filter/imagetopdf" "$top/serverbin/filter/" ||
    fail "no imagetopdf filter (cups-filters)"
  # Each case: document, pages per sheet, options: layouts whose pages lie across the
  # sheet, 2- and 6-up sheets of landscape pages, an image, the sheet sides page-set and
  # page-ranges pick, 16-up, booklets of portrait pages (pdftopdf's booklet=on).
  while read -r document nup options; do
    type=application/pdf
    [[ $document == *.png ]] && type=image/png
    # shellcheck disable=SC2086
    cupsfilter -e -c "$top/cups-files.conf" -p "$ppd" -m printer/foo -i "$type" -o media=A4 -o number-up="$nup" \
      $options "$top/$document" >"$top/nupturned.pxl" 2>"$top/nupturned.txt" ||
      fail "the $document $nup-up job with $options: $(cat "$top/nupturned.txt")"
    # shellcheck disable=SC2086
    cupsfilter -e -p "$stock" -m printer/foo -o media=A4 -o number-up="$nup" $options "$top/$document" \
      >"$top/nupstock.pxl" 2>/dev/null || fail "cupsfilter with $stock"
    ours=$(cells "$nup" "$top/nupturned.pxl") || fail "the $document $nup-up job cannot be read back"
    theirs=$(cells "$nup" "$top/nupstock.pxl") || fail "CUPS's $document $nup-up job cannot be read back"
    [[ $ours == "$theirs" ]] || fail "$document $nup-up with $options: the sheet is $ours, CUPS's filters print $theirs"
    [[ $document != *.png ]] || has nupturned.txt "WARNING: option number-up '$nup' is not applied to an image"
  done <<'CASES'
tall.pdf 4 -o orientation-requested=4
tall.pdf 4 -o orientation-requested=5 -o number-up-layout=btlr
tall.pdf 2 -o landscape
tall.pdf 6 -o orientation-requested=4
wide.pdf 4 -o orientation-requested=3
wide.pdf 2 -o number-up-layout=lrtb
wide.pdf 2 -o orientation-requested=4 -o number-up-layout=btlr
wide.pdf 6 -o orientation-requested=5
tall.png 4 -o orientation-requested=4
tall.pdf 2 -o page-set=odd
tall.pdf 2 -o page-set=even -o outputorder=reverse
tall.pdf 2 -o page-ranges=2- -o page-set=odd
tall.pdf 16 -o orientation-requested=4
wide.pdf 16 -o orientation-requested=3
tall.pdf 2 -o booklet=on
tall.pdf 2 -o booklet=on -o orientation-requested=6
tall.pdf 2 -o booklet=on -o booklet-signature=4
CASES
fi

echo "PASS: cupsfilter jobs: header lines, mapped options, 4-up watermarks, a hostile title, warnings and errors, a failed capture, N-up as CUPS lays it out"
