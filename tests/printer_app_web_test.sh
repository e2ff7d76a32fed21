#!/usr/bin/env bash
# The settings page of velmora-printer-app in a real headless browser (Chromium): starts
# the application on a loopback port, sets a text watermark through the page's table,
# uploads a one-page PDF letterhead as an overlay and sees its picture in the list, takes
# screenshots at 1280 and 390 px; then prints a PDF with that watermark section and checks
# that every page carries it, and prints a two-page PDF with overlay-mode=one and the new
# overlay's name, which gpcl6 (when present) renders with the letterhead under the text on
# both pages. The application and the browser are stopped by their process ids.
# Usage: printer_app_web_test.sh APP VELMORA TESTS_FOLDER
set -uo pipefail
app=$1 velmora=$2 tests=$3

browser=$(command -v chromium || command -v chromium-browser || true)
if [[ -z $browser ]]; then
  echo "SKIP: chromium is not installed (scripts/install-deps installs it)"
  exit 77
fi
for program in ipptool ps2pdf python3; do
  if ! command -v "$program" >/dev/null; then
    echo "SKIP: $program is not installed (scripts/install-deps installs cups-ipp-utils, ghostscript)"
    exit 77
  fi
done

top=$(mktemp -d /tmp/velmora-appweb-XXXXXX)
app_pid= browser_pid=
cleanup() {
  [[ -n $browser_pid ]] && kill "$browser_pid" 2>/dev/null && wait "$browser_pid" 2>/dev/null
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [[ -n ${KEEP:-} ]] || rm -rf "$top"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- application log (last lines)"
  grep -v '^D ' "$top/app.log" 2>/dev/null | tail -n 20
  exit 1
}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

port=$(free_port)
uri=ipp://127.0.0.1:$port/ipp/print/Office
mkdir -p "$top/out"
"$app" --listen 127.0.0.1 --port "$port" --state-folder "$top/state" --no-tls --log "$top/app.log" \
  --file-device-folder "$top/out" --add-printer "Office=file://$top/out" >"$top/app.out" 2>&1 &
app_pid=$!
for _ in $(seq 100); do
  ipptool -q "$uri" get-printer-attributes.test 2>/dev/null && break
  sleep 0.1
done
ipptool -q "$uri" get-printer-attributes.test 2>/dev/null || fail "the application did not start: $(cat "$top/app.out")"

cat >"$top/letterhead.ps" <<'EOF'
%!PS
<< /PageSize [595 842] >> setpagedevice
0.8 setgray 0 650 595 100 rectfill
0 setgray /Helvetica-Bold findfont 30 scalefont setfont 50 780 moveto (LETTERHEAD Co.) show
showpage
EOF
ps2pdf "$top/letterhead.ps" "$top/letterhead.pdf" || fail "ps2pdf letterhead"

devtools=$(free_port)
"$browser" --headless=new --no-sandbox --disable-gpu --no-first-run --disable-extensions \
  --remote-debugging-address=127.0.0.1 --remote-debugging-port="$devtools" --user-data-dir="$top/browser" \
  --window-size=1280,900 about:blank >"$top/browser.log" 2>&1 &
browser_pid=$!
python3 "$tests/settings_in_browser.py" "$devtools" "http://127.0.0.1:$port/Office/velmora" "BROWSER-SET" \
  "$top/letterhead.pdf" Letterhead "$top/settings" >"$top/browser.txt" 2>&1 ||
  fail "$(cat "$top/browser.txt")"
kill "$browser_pid" 2>/dev/null && wait "$browser_pid" 2>/dev/null
browser_pid=
for width in 1280 390; do
  shot=$top/settings-$width.png
  [[ $(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] || fail "the $width px screenshot is no PNG"
  [[ $(stat -c %s "$shot") -gt 10000 ]] || fail "the $width px screenshot is nearly empty"
  [[ -n ${SCREENSHOT:-} ]] && cp "$shot" "${SCREENSHOT%.png}-$width.png"
done

# The section the page wrote is the printer's, and a job that names it carries it: one
# more clip path (the outline of the text) on each of the 3 pages.
XDG_DATA_HOME=$top/state VELMORA_STORE=$top/state/spooler.db "$velmora" watermark list --printer Office |
  grep -q 'WMSet_1: text "BROWSER-SET".*angle 30, darkness 40 %' || fail "the page did not write the watermark section"
cat >"$top/doc.ps" <<'EOF'
%!PS
/Helvetica findfont 24 scalefont setfont
1 1 3 { /n exch def 72 700 moveto (Page ) show n 3 string cvs show showpage } for
EOF
ps2pdf "$top/doc.ps" "$top/doc.pdf" || fail "ps2pdf"
for section in 0 1; do
  ipptool -t -d section=$section -d title=Marked$section -f "$top/doc.pdf" "$uri" "$tests/print-watermark.test" \
    >"$top/ipp.txt" 2>&1 || fail "Print-Job with watermark-first=$section: $(cat "$top/ipp.txt")"
done
clips() { "$velmora" dump "$top/out/Marked$1.prn" | grep -c SetClipReplace; }
[[ $(($(clips 1) - $(clips 0))) -eq 3 ]] || fail "the watermark is not on every page ($(clips 0) and $(clips 1) clips)"

# The overlay the page captured, chosen by name over IPP, under both pages of a document.
cat >"$top/body.ps" <<'EOF'
%!PS
<< /PageSize [595 842] >> setpagedevice
/Helvetica findfont 24 scalefont setfont
1 1 2 { /n exch def 72 690 moveto (Body text of page ) show n 3 string cvs show showpage } for
EOF
ps2pdf "$top/body.ps" "$top/body.pdf" || fail "ps2pdf body"
ipptool -t -d mode=one -d overlay=Letterhead -d position=under -d state=9 -d title=Lettered -f "$top/body.pdf" "$uri" \
  "$tests/print-overlay.test" >"$top/ipp.txt" 2>&1 || fail "Print-Job with overlay-name=Letterhead: $(cat "$top/ipp.txt")"
gpcl6=$(cd "$(dirname "$0")" && pwd)/../../shared/tools/gpcl6
if [[ ! -x $gpcl6 ]]; then
  echo "PASS: a watermark and an overlay set in Chromium (screenshots at 1280 and 390 px); the watermark prints" \
    "on every page (SKIP of the overlay's pages: gpcl6 is missing at $gpcl6)"
  exit 0
fi
"$gpcl6" -dNOPAUSE -dBATCH -sDEVICE=pgmraw -r50 -sOutputFile="$top/lettered-%d.pgm" "$top/out/Lettered.prn" \
  >"$top/gpcl6.txt" 2>&1
grep -q "PCL XL error" "$top/gpcl6.txt" && fail "gpcl6 rejects the overlay job: $(cat "$top/gpcl6.txt")"
python3 "$tests/letterhead_on_pages.py" "$top"/lettered-*.pgm >"$top/pages.txt" 2>&1 || fail "$(cat "$top/pages.txt")"

echo "PASS: a watermark and an overlay set in Chromium (screenshots at 1280 and 390 px); the watermark prints on" \
  "every page, the overlay chosen over IPP under the text of both pages"
