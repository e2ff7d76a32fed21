#!/usr/bin/env bash
# velmora-printer-app against CUPS's IPP Everywhere self-certification tests: starts the
# application on a loopback port with a file device, makes the sample documents the tests
# print (PDF, PostScript and JPEG documents, and PWG raster at every resolution and type the
# printer advertises, written by Ghostscript's pwgraster device) in the tests' folder, runs
# ipp-everywhere.test (which includes ipp-2.0.test, which includes ipp-1.1.test) and fails
# on any FAIL line. The application is stopped by its process id whatever happens.
# Usage: printer_app_conformance_test.sh APP
set -uo pipefail
app=$1
suite_source=${IPPTOOL_TESTS:-/usr/share/cups/ipptool}

for program in ipptool gs ps2pdf python3; do
  if ! command -v "$program" >/dev/null; then
    echo "SKIP: $program is not installed (scripts/install-deps installs cups-ipp-utils, ghostscript)"
    exit 77
  fi
done
for file in ipp-1.1.test ipp-2.0.test ipp-everywhere.test; do
  if [[ ! -r $suite_source/$file ]]; then
    echo "SKIP: $suite_source/$file is missing (Debian: cups-ipp-utils)"
    exit 77
  fi
done

top=$(mktemp -d /tmp/velmora-ippeve-XXXXXX)
app_pid=
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [[ -n ${KEEP:-} ]] || rm -rf "$top"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
uri=ipp://127.0.0.1:$port/ipp/print/Office
mkdir -p "$top/out" "$top/suite"
"$app" --listen 127.0.0.1 --port "$port" --state-folder "$top/state" --no-tls --log "$top/log" \
  --file-device-folder "$top/out" --add-printer "Office=file://$top/out" >"$top/app.out" 2>&1 &
app_pid=$!
attributes() { ipptool -tv "$uri" get-printer-attributes.test 2>/dev/null; }
for _ in $(seq 100); do
  attributes >/dev/null && break
  sleep 0.1
done
attributes >"$top/attributes.txt" || fail "the application did not start: $(cat "$top/app.out")"

# The tests' documents, made here: two-page A4 and US Letter documents, a 4x6 photo.
cd "$top/suite" || fail "no suite folder"
cp "$suite_source"/ipp-1.1.test "$suite_source"/ipp-2.0.test "$suite_source"/ipp-everywhere.test .
# The application refuses compressed documents (PAPPL would inflate them without a bound)
# but cannot take deflate and gzip out of the compression-supported PAPPL lists: the
# suite's compressed print tests are left out.
sed -i '/WITH-VALUE "\(deflate\|gzip\)" DEFINE-MATCH HAVE_/d' ipp-everywhere.test
if ! grep -q 'HAVE_GZIP' ipp-everywhere.test || grep -q 'DEFINE-MATCH HAVE_GZIP' ipp-everywhere.test; then
  fail "ipp-everywhere.test no longer decides its compressed tests as this script expects"
fi
document() { # WIDTH HEIGHT PAGES
  cat <<EOF
%!PS
<< /PageSize [$1 $2] >> setpagedevice
/Helvetica findfont 20 scalefont setfont
1 1 $3 { /n exch def 50 $2 100 sub moveto (Sample document, page ) show n 3 string cvs show
  2 setlinewidth 50 200 moveto $1 100 sub 0 rlineto 0 200 rlineto $1 100 sub neg 0 rlineto closepath stroke
  showpage } for
EOF
}
document 595 842 2 >document-a4.ps
document 612 792 2 >document-letter.ps
document 595 842 1 >onepage-a4.ps
document 612 792 1 >onepage-letter.ps
cat >photo.ps <<'EOF'
%!PS
<< /PageSize [288 432] >> setpagedevice
0.9 0.2 0.2 setrgbcolor 0 0 288 144 rectfill 0.2 0.7 0.3 setrgbcolor 0 144 288 144 rectfill
0.2 0.3 0.9 setrgbcolor 0 288 288 144 rectfill showpage
EOF
gs_run() { gs -q -dSAFER -dBATCH -dNOPAUSE "$@" >/dev/null 2>&1; }
for name in document-a4 document-letter; do ps2pdf "$name.ps" "$name.pdf" || fail "ps2pdf $name"; done
gs_run -sDEVICE=jpeg -r100 -o color.jpg photo.ps || fail "gs jpeg"
gs_run -sDEVICE=jpeggray -r100 -o gray.jpg photo.ps || fail "gs jpeggray"

# PWG raster at each resolution and of each type the printer advertises.
advertised() { grep -o "$1 ([^)]*) = .*" "$top/attributes.txt" | sed 's/.* = //' | tr ',' '\n'; }
resolutions=$(advertised pwg-raster-document-resolution-supported | sed -n 's/^\([0-9]*\)dpi$/\1/p')
types=$(advertised pwg-raster-document-type-supported)
[[ -n $resolutions && -n $types ]] || fail "no PWG raster resolutions or types advertised"
for dpi in $resolutions; do
  case $dpi in 150 | 180 | 300 | 360 | 600 | 720) ;; *) continue ;; esac
  for type in $types; do
    case $type in
      black_1) space="-dcupsColorSpace=3 -dcupsBitsPerColor=1" ;;
      sgray_8) space="-dcupsColorSpace=18 -dcupsBitsPerColor=8" ;;
      srgb_8) space="-dcupsColorSpace=19 -dcupsBitsPerColor=8" ;;
      cmyk_8) space="-dcupsColorSpace=6 -dcupsBitsPerColor=8" ;;
      *) continue ;;
    esac
    folder=pwg-raster-samples-${dpi}dpi/${type/_/-}
    mkdir -p "$folder"
    for source in document-a4 document-letter onepage-a4 onepage-letter photo:color.jpg-4x6 photo:gray.jpg-4x6; do
      input=${source%%:*}.ps name=${source#*:}
      # shellcheck disable=SC2086 # the colour space is two options
      gs_run -sDEVICE=pwgraster -r"$dpi" $space -o "$folder/$name-${type/_/-}-${dpi}dpi.pwg" "$input" ||
        fail "gs pwgraster $name at $dpi dpi, $type"
    done
  done
done

# ipptool 2.4 opens the file of every test, also of one it skips because the printer
# advertises no such resolution or type: those get an empty file, which is never sent.
grep -h '^\s*FILE pwg-raster-samples' ipp-everywhere.test | awk '{print $2}' | sort -u | while read -r file; do
  [[ -e $file ]] && continue
  mkdir -p "$(dirname "$file")" && : >"$file"
done

ipptool -t -I -f "$top/suite/document-a4.pdf" "$uri" ipp-everywhere.test >"$top/result.txt" 2>&1
if grep -q 'FAIL\]' "$top/result.txt" || ! grep -q '^Summary:' "$top/result.txt"; then
  grep -v '^\s*$' "$top/result.txt" | grep -A 12 'FAIL\]\|ipptool:' | head -n 60
  fail "the IPP Everywhere tests failed"
fi
passed=$(grep -c 'PASS\]' "$top/result.txt")
skipped=$(grep -c 'SKIP\]' "$top/result.txt")
echo "PASS: ipp-1.1.test, ipp-2.0.test and ipp-everywhere.test: $passed passed, $skipped skipped, none failed"
