#!/usr/bin/env bash
# velmora-printer-app as IPP clients see it: starts the application on a loopback port
# with a printer on a file device, asks for its attributes and prints with ipptool (a PDF
# with a PIN, two-sided and 4-up; print-scaling, number-up-layout, page-ranges and overrides; PWG raster
# and JPEG; a broken PDF, a document of no known type and a damaged raster stream, after
# which the next job still prints and no empty file is left; a format the printer does not
# list, another format than the Create-Job's and compressed documents, refused; a client's
# own document-format-detected or -supplied and an upper-case format, ignored), identifies
# the printer, sets a printer default, and restarts it to see that the printer and its
# default survived. The application is stopped by its process id whatever happens.
# Usage: printer_app_test.sh APP VELMORA TESTS_FOLDER
set -uo pipefail
app=$1 velmora=$2 tests=$3

for program in ipptool gs ps2pdf python3; do
  if ! command -v "$program" >/dev/null; then
    echo "SKIP: $program is not installed (scripts/install-deps installs cups-ipp-utils, ghostscript)"
    exit 77
  fi
done

top=$(mktemp -d /tmp/velmora-app-XXXXXX)
app_pid=
# Stops the application and answers how it ended: 0 when it shut down cleanly (under the
# sanitizers, without a report).
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
  [[ -n ${KEEP:-} ]] || rm -rf "$top"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- application log (last lines)"
  grep -v '^D ' "$top/log" 2>/dev/null | tail -n 30
  exit 1
}

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
uri=ipp://127.0.0.1:$port/ipp/print/Office
mkdir -p "$top/out"

start_app() {
  "$app" --listen 127.0.0.1 --port "$port" --state-folder "$top/state" --no-tls --log "$top/log" --log-level debug \
    --file-device-folder "$top/out" \
    "$@" >>"$top/stdout" 2>&1 &
  app_pid=$!
  for _ in $(seq 100); do
    ipptool -q "$uri" get-printer-attributes.test 2>/dev/null && return 0
    kill -0 "$app_pid" 2>/dev/null || fail "the application ended: $(cat "$top/stdout")"
    sleep 0.1
  done
  fail "the application did not answer on port $port"
}
ipp() { ipptool -t -d pin=4711 "$@" 2>&1; }
# Prints FILE as FORMAT under TITLE and expects the job to end in STATE (9 completed,
# 8 aborted).
print_file() {
  ipp -d format="$1" -d title="$2" -d state="$3" -f "$4" "$uri" "$tests/print-file.test" >"$top/ipp.txt" ||
    fail "job $2 ($1) did not end in state $3: $(cat "$top/ipp.txt")"
}
has() { grep -aq -- "$2" "$top/out/$1.prn" || fail "job $1 lacks '$2'"; }
sheets() { "$velmora" dump "$top/out/$1.prn" | grep -c BeginPage; }

start_app --add-printer "Office=file://$top/out"

ipp -d user="$(id -un)" "$uri" "$tests/printer-attributes.test" >"$top/ipp.txt" ||
  fail "printer attributes: $(cat "$top/ipp.txt")"

cat >"$top/doc.ps" <<'EOF'
%!PS
/Helvetica findfont 24 scalefont setfont
1 1 5 { /n exch def 72 700 moveto (Page ) show n 3 string cvs show showpage } for
EOF
ps2pdf "$top/doc.ps" "$top/doc.pdf" || fail "ps2pdf"
ipp -f "$top/doc.pdf" "$uri" "$tests/print-job.test" >"$top/ipp.txt" || fail "Print-Job: $(cat "$top/ipp.txt")"
has Quarterly '@PJL JOB NAME="Quarterly"'
has Quarterly "UserName=$(id -un)"
has Quarterly '@PJL SET HOLD=LOCKED'
has Quarterly '@PJL SET FILEBOXPASSWORD="4711"'
has Quarterly '@PJL SET DUPLEX=ON'
[[ $(sheets Quarterly) -eq 2 ]] || fail "5 pages 4-up are not 2 sheets"

# print-scaling places a Letter page on the printer's A4: filled it covers the sheet
# (scaled up, cut at the sides), at its own size it keeps its size, by default it is fitted
# into the printable area.
printf '%s\n' '%!PS' '<< /PageSize [612 792] >> setpagedevice 0 0 612 792 rectfill showpage' >"$top/letter.ps"
ps2pdf "$top/letter.ps" "$top/letter.pdf" || fail "ps2pdf letter"
scale() { "$velmora" dump "$top/out/$1.prn" | grep -o 'PageScale=([0-9.]*' | tail -n 1 | cut -d'(' -f2; }
# Prints FILE as TITLE with number-up NUP, number-up-layout LAYOUT and print-scaling SCALING.
print_with() {
  ipp -d title="$1" -d nup="$2" -d layout="$3" -d scaling="$4" -f "$5" "$uri" "$tests/print-options.test" \
    >"$top/ipp.txt" || fail "job $1: $(cat "$top/ipp.txt")"
}
for scaling in fill none auto; do print_with Scaled-$scaling 1 lrtb $scaling "$top/letter.pdf"; done
[[ $(scale Scaled-fill) == 1.06* ]] || fail "a filled Letter page is scaled $(scale Scaled-fill), not 1.06"
[[ $(scale Scaled-none) == 1.0 ]] || fail "a Letter page at its own size is scaled $(scale Scaled-none)"
[[ $(scale Scaled-auto) == 0.93* ]] || fail "a Letter page fitted into A4 is scaled $(scale Scaled-auto), not 0.93"

# number-up-layout orders the cells of a sheet: right to left puts the first page where
# left to right puts the second.
# The origins of the first sheet's four cells (after the plug-in's own page set-up).
cells() { "$velmora" dump "$top/out/$1.prn" | grep -o 'PageOrigin=([0-9, -]*' | sed -n 2,5p | tr -d ' ' | tr '\n' ' '; }
print_with Layout-lrtb 4 lrtb auto "$top/doc.pdf"
print_with Layout-rltb 4 rltb auto "$top/doc.pdf"
read -ra lrtb <<<"$(cells Layout-lrtb)"
read -ra rltb <<<"$(cells Layout-rltb)"
[[ ${#lrtb[@]} -ge 4 && ${lrtb[0]} == "${rltb[1]}" && ${lrtb[1]} == "${rltb[0]}" ]] ||
  fail "number-up-layout rltb does not mirror lrtb: ${lrtb[*]} / ${rltb[*]}"

# page-ranges picks the document's pages (an end past the largest page number runs to
# the end); a list the print host cannot take is named in IPP's words in the warning, and
# every page is printed.
# Prints doc.pdf as TITLE with page-ranges RANGES and expects the job to end in STATE.
print_pages() {
  ipp -d title="$1" -d ranges="$2" -d state="$3" -f "$top/doc.pdf" "$uri" "$tests/print-pages.test" \
    >"$top/ipp.txt" || fail "job $1 (page-ranges $2) did not end in state $3: $(cat "$top/ipp.txt")"
}
while IFS='|' read -r title ranges sheets; do
  print_pages "$title" "$ranges" 9
  [[ $(sheets "$title") -eq $sheets ]] || fail "page-ranges $ranges printed $(sheets "$title") sheets, not $sheets"
done <<'ROWS'
Pages-2-4|2-4|3
Pages-far|3-2147483647|3
Pages-none|1000000000-1000000000|5
ROWS
q="[\\]?'" # PAPPL's log escapes quotes
grep -Eq "page-ranges ${q}1000000000-1000000000${q}: pages count to 99999999; every page is printed" "$top/log" ||
  fail "no warning in IPP's words for page-ranges 1000000000-1000000000"
! grep -q -- "--page-ranges" "$top/log" || fail "a warning names the command line's --page-ranges"

# A job whose overrides ask for other attributes on some pages is not printed otherwise.
ipp -f "$top/doc.pdf" "$uri" "$tests/print-overrides.test" >"$top/ipp.txt" ||
  fail "a job with overrides: $(cat "$top/ipp.txt")"
[[ ! -s $top/out/Overridden.prn ]] || fail "the job with overrides was printed"

# Identify-Printer shows its message on the printer's display through PJL, one line whatever
# the message holds; a second request at once is not sent.
for message in 'Line one\n@PJL ECHO "x"' 'Again'; do
  [[ $(python3 "$tests/ipp_request.py" "http://127.0.0.1:$port/ipp/print/Office" Identify-Printer \
    requesting-user-name=name:alice "message=text:$message" identify-actions=keyword:display) == "HTTP 200 IPP 0000" ]] ||
    fail "Identify-Printer refused"
done
identified=$(grep -al 'RDYMSG' "$top"/out/*.prn)
[[ $(echo "$identified" | wc -w) -eq 1 ]] || fail "not one identify job: $identified"
grep -aq '^@PJL RDYMSG DISPLAY = "Line one @PJL ECHO '"'x'"'"' "$identified" ||
  fail "the identify job is not one safe line: $(cat -v "$identified")"

# Raster documents: PWG raster as PAPPL streams it, and a JPEG PAPPL decodes.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r600 -sPAPERSIZE=a4 -dLastPage=2 -o "$top/doc.pwg" "$top/doc.pdf" 2>/dev/null ||
  fail "gs pwgraster"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeggray -r100 -dLastPage=1 -o "$top/doc.jpg" "$top/doc.pdf" || fail "gs jpeggray"
print_file image/pwg-raster Raster 9 "$top/doc.pwg"
[[ $(sheets Raster) -eq 2 ]] || fail "a 2-page PWG raster job is not 2 sheets"
print_file image/jpeg Photo 9 "$top/doc.jpg"
[[ $(sheets Photo) -eq 1 ]] || fail "a JPEG is not 1 sheet"

# A broken PDF and a document whose type cannot be found end their jobs as aborted with a
# reason; the application goes on and prints the next job.
head -c 1500 "$top/doc.pdf" >"$top/broken.pdf"
print_file application/pdf Broken 8 "$top/broken.pdf"
grep -q "the PDF is damaged or truncated" "$top/log" || fail "no reason for the broken document"
echo "plain text" >"$top/text.txt"
print_file application/octet-stream Unknown 8 "$top/text.txt"
# A format the printer does not list in document-format-supported is refused when the
# request comes, before a job is made (a Create-Job's format is the job's when its
# Send-Document names none): PAPPL would take it and abort the job without the driver,
# closing the device under a raster job printing at the time.
for operation in Print-Job Validate-Job Create-Job; do
  document=(--file "$top/text.txt")
  [[ $operation == Create-Job ]] && document=()
  answer=$(python3 "$tests/ipp_request.py" "http://127.0.0.1:$port/ipp/print/Office" $operation \
    requesting-user-name=name:alice document-format=mime:text/plain "${document[@]}")
  [[ $answer == "HTTP 200 IPP 040b" ]] || fail "$operation of text/plain was not refused: $answer"
done
# A raster stream PAPPL cannot read ends its job in PAPPL, without the driver, and the
# application goes on. No job leaves an empty file: a file device makes its file when the
# job writes, and a job writes through a device of its own, which PAPPL cannot close.
{ printf 'RaS2PwgR'; head -c 200000 /dev/zero | tr '\0' x; } >"$top/damaged.pwg"
print_file image/pwg-raster Damaged 8 "$top/damaged.pwg"
print_file application/octet-stream After 9 "$top/doc.pdf"
# The job's format is PAPPL's reading of document-format alone: a client's own
# document-format-detected or -supplied (either group, on Create-Job too) and a format in
# other letters are not taken for it, and the job prints the PDF.
request() { python3 "$tests/ipp_request.py" "http://127.0.0.1:$port/ipp/print/Office" "$1" requesting-user-name=name:alice "${@:2}"; }
# Waits for job ID to end and prints its job-state.
final_state() {
  local state=
  for _ in $(seq 150); do
    state=$(request Get-Job-Attributes "job-id=integer:$1" | sed -n 's/^job-state //p')
    [[ $state == [789] ]] && break
    sleep 0.2
  done
  echo "$state"
}
pdf=(document-format=mime:application/pdf)
while IFS='|' read -r title create send; do
  # shellcheck disable=SC2086 # the rows' attributes are words
  if [[ -n $create ]]; then
    id=$(request Create-Job job-name=name:$title $create | sed -n 's/^job-id //p')
    answer=$(request Send-Document "job-id=integer:$id" last-document=boolean:true $send --file "$top/doc.pdf")
  else
    answer=$(request Print-Job job-name=name:$title $send --file "$top/doc.pdf")
    id=$(sed -n 's/^job-id //p' <<<"$answer")
  fi
  [[ $answer == "HTTP 200 IPP 0000"* && -n $id ]] || fail "$title was refused: $answer"
  [[ $(final_state "$id") == 9 ]] || fail "$title did not print: $(request Get-Job-Attributes "job-id=integer:$id")"
  has "$title" "@PJL JOB NAME=\"$title\""
done <<ROWS
Detected-job||${pdf[*]} --job document-format-detected=mime:text/plain
Supplied-job||${pdf[*]} --job document-format-supplied=mime:application/x-unlisted
Detected-op||${pdf[*]} document-format-detected=mime:application/x-unlisted document-format-supplied=mime:text/plain
Created-detected|${pdf[*]} --job document-format-detected=mime:text/plain|${pdf[*]}
Upper-case||document-format=mime:application/PDF
ROWS
# Refused when the request comes: a Send-Document of another format than its Create-Job's
# (PAPPL would keep the Create-Job's and abort the job without the driver), whichever way
# the job is named, octet-stream included, and compressed documents, by IPP or HTTP (PAPPL
# inflates them into the spool without any bound).
gzip -c "$top/doc.pdf" >"$top/doc.pdf.gz"
# Sent gzip-encoded whole, a document must outlast the HTTP layer's buffer for PAPPL to see it.
{ cat "$top/doc.pdf"; head -c 300000 /dev/urandom; } >"$top/long.pdf"
while IFS='|' read -r title create send; do
  # shellcheck disable=SC2086 # the rows' attributes are words
  if [[ -n $create ]]; then
    id=$(request Create-Job job-name=name:$title $create | sed -n 's/^job-id //p')
    answer=$(request Send-Document "job-id=integer:$id" last-document=boolean:true $send)
    request Cancel-Job "job-id=integer:$id" >/dev/null
  else
    answer=$(request Print-Job job-name=name:$title $send)
  fi
  [[ $answer == "HTTP 200 IPP 040b"* ]] || fail "$title was not refused: $answer"
done <<ROWS
Raster-then-PDF|document-format=mime:image/pwg-raster|${pdf[*]} --file $top/doc.pdf
Raster-by-job-uri|document-format=mime:image/pwg-raster|--job-uri ${pdf[*]} --file $top/doc.pdf
Raster-then-octet|document-format=mime:image/pwg-raster|document-format=mime:application/octet-stream --file $top/doc.pdf
Gzip||${pdf[*]} compression=keyword:gzip --file $top/doc.pdf.gz
Deflate||${pdf[*]} compression=keyword:deflate --file $top/doc.pdf.gz
Http-gzip||${pdf[*]} --gzip --file $top/long.pdf
ROWS
has After '@PJL JOB NAME="After"'

empty=$(find "$top/out" -name '*.prn' -empty)
[[ -z $empty ]] || fail "jobs left empty files: $empty"

# The printer and its defaults survive a restart (PAPPL's state file in the state folder),
# and a job without the attribute takes the printer's default.
ipp "$uri" "$tests/set-defaults.test" >"$top/ipp.txt" || fail "Set-Printer-Attributes: $(cat "$top/ipp.txt")"
stop_app || fail "the application did not shut down cleanly: $(tail -n 30 "$top/stdout")"
[[ -s $top/state/pappl.state ]] || fail "no state file after the application stopped"
start_app
ipp -d user="$(id -un)" "$uri" "$tests/printer-attributes.test" >"$top/ipp.txt" ||
  fail "the printer did not survive a restart: $(cat "$top/ipp.txt")"
print_file application/pdf Defaulted 9 "$top/doc.pdf"
has Defaulted '@PJL SET HOLD=SAMPLE'
stop_app || fail "the application did not shut down cleanly: $(tail -n 30 "$top/stdout")"

echo "PASS: attributes, a PIN job 2-sided 4-up, print-scaling, page-ranges, overrides refused, Identify-Printer, raster and JPEG jobs, refused documents and formats, a default kept" \
  "across a restart"
