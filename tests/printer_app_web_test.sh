#!/usr/bin/env bash
# The settings page of velmora-printer-app in a real headless browser (Chromium): starts
# the application on a loopback port, sets a text watermark through the page's form,
# takes a screenshot, then prints a PDF with that watermark section and checks that every
# page carries it. The application and the browser are stopped by their process ids.
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

devtools=$(free_port)
"$browser" --headless=new --no-sandbox --disable-gpu --no-first-run --disable-extensions \
  --remote-debugging-address=127.0.0.1 --remote-debugging-port="$devtools" --user-data-dir="$top/browser" \
  --window-size=1100,1000 about:blank >"$top/browser.log" 2>&1 &
browser_pid=$!
python3 "$tests/set_watermark_in_browser.py" "$devtools" "http://127.0.0.1:$port/Office/velmora?section=1" \
  "BROWSER-SET" "$top/settings.png" >"$top/browser.txt" 2>&1 ||
  fail "$(cat "$top/browser.txt")"
kill "$browser_pid" 2>/dev/null && wait "$browser_pid" 2>/dev/null
browser_pid=
[[ $(head -c 8 "$top/settings.png" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] || fail "the screenshot is no PNG"
[[ $(stat -c %s "$top/settings.png") -gt 10000 ]] || fail "the screenshot is nearly empty"
[[ -n ${SCREENSHOT:-} ]] && cp "$top/settings.png" "$SCREENSHOT"

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

echo "PASS: a text watermark set in Chromium through the settings page (screenshot taken) prints on every page"
