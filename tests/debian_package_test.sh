#!/usr/bin/env bash
# The Debian package as an administrator gets it. Its file list: every piece where Debian,
# CUPS and systemd look, and nothing under /usr/local, /home or the build folder. Its
# control data: the dependencies and the maintainer scripts. Then its programs, unpacked
# into a throwaway root: `velmora --version`, a job printed through the package's own
# plug-in, `man -w` and a clean rendering of each manual page, `systemd-analyze verify` of
# the unit, and a cupsd of the test's own whose CUPS model folder is the package's, where
# `lpinfo -m` lists the PPD and `lpadmin -m velmora/velmora-pxl.ppd` makes a queue. The
# daemon is stopped by its process id whatever happens.
# Usage: debian_package_test.sh PACKAGE   (scripts/package prints its path; .ci/run runs this)
set -uo pipefail
package=$(realpath "$1")
build=$(dirname "$package")

for program in dpkg-deb man systemd-analyze cupsd lpinfo lpadmin lpstat; do
  if ! command -v "$program" >/dev/null; then
    echo "SKIP: $program is not installed (scripts/install-deps installs dpkg-dev, man-db, cups-daemon, ...)"
    exit 77
  fi
done

top=$(mktemp -d /tmp/velmora-package-XXXXXX)
# cupsd's helpers run as lp and read the model folder inside.
chmod 755 "$top"
cupsd_pid=
cleanup() {
  [[ -n $cupsd_pid ]] && kill "$cupsd_pid" 2>/dev/null && wait "$cupsd_pid" 2>/dev/null
  rm -rf "$top"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# --- The file list.
listing=$(dpkg-deb --contents "$package" | awk '{print $NF}') || { echo "FAIL: dpkg-deb --contents"; exit 1; }
for expected in ./usr/bin/velmora ./usr/lib/velmora/libvelmora_pxl.so ./usr/lib/velmora/libvelmora_platform.so \
  ./usr/lib/cups/filter/velmora-pxl ./usr/share/cups/model/velmora/velmora-pxl.ppd \
  ./usr/sbin/velmora-printer-app ./usr/lib/systemd/system/velmora-printer-app.service \
  ./usr/share/man/man1/velmora.1.gz ./usr/share/man/man7/velmora-pxl.7.gz \
  ./usr/share/man/man8/velmora-printer-app.8.gz ./usr/share/doc/velmora/copyright \
  ./usr/share/doc/velmora/changelog.Debian.gz; do
  grep -qxF "$expected" <<<"$listing" || fail "the package lacks $expected"
done
misplaced=$(grep -E "^\./(usr/local|home)(/|$)|^\.${build}(/|$)" <<<"$listing")
[[ -z $misplaced ]] || fail "files outside the system's folders:"$'\n'"$misplaced"

# The copyright file is in Debian's machine-readable format.
copyright=$(dpkg-deb --fsys-tarfile "$package" | tar -xO ./usr/share/doc/velmora/copyright 2>/dev/null)
head -1 <<<"$copyright" | grep -qxF "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
  fail "the copyright file does not start with the machine-readable format's Format line"
grep -q "^Files: \*$" <<<"$copyright" && grep -q "^License: " <<<"$copyright" ||
  fail "the copyright file has no Files: * paragraph with its License"

# --- The control data: what it needs, and maintainer scripts dpkg can run.
depends=$(dpkg-deb --field "$package" Depends)
echo "Depends: $depends"
for needed in ghostscript libcups2 libpappl1; do
  grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
done
# Each dependency names a package of this machine, on which the package was made.
IFS=',' read -ra groups <<<"$depends"
for group in "${groups[@]}"; do
  found=
  IFS='|' read -ra choices <<<"$group"
  for choice in "${choices[@]}"; do
    name=$(awk '{print $1}' <<<"$choice")
    dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed" && found=1
  done
  [[ -n $found ]] || fail "dependency '$group' is not an installed package"
done
dpkg-deb --control "$package" "$top/control"
for script in postinst prerm postrm; do
  [[ -x $top/control/$script ]] || fail "no executable $script"
  sh -n "$top/control/$script" || fail "$script is not a valid shell script"
done

# --- The programs, from a throwaway root.
root=$top/root
dpkg-deb --extract "$package" "$root"
velmora=$root/usr/bin/velmora
version=$(dpkg-deb --field "$package" Version)
got=$("$velmora" --version 2>&1)
[[ $got == "velmora $version" ]] || fail "velmora --version says '$got', not 'velmora $version'"

# The installed velmora loads the plug-in installed with it, even beside the build tree
# that made the package (the dynamic loader's log names each file it loads).
export VELMORA_STORE=$top/spooler.db XDG_DATA_HOME=$top/data
loads=$(LD_DEBUG=files "$velmora" print -o "$top/job.pxl" 2>&1 >/dev/null)
grep -qF "file=$root/usr/lib/velmora/libvelmora_pxl.so [0];  dynamically loaded" <<<"$loads" ||
  fail "velmora did not load $root/usr/lib/velmora/libvelmora_pxl.so:"$'\n'"$(grep -F 'file=' <<<"$loads" | head)"
if grep -qF "file=$build/" <<<"$loads"; then fail "velmora loaded files of the build folder"; fi
[[ -s $top/job.pxl ]] || fail "the installed velmora printed no job"
unset VELMORA_STORE XDG_DATA_HOME

# Each manual page is found by man and renders without a warning; velmora(1) names every
# subcommand that `velmora --help` lists.
export MANPATH=$root/usr/share/man
for page in 1:velmora 7:velmora-pxl 8:velmora-printer-app; do
  section=${page%%:*} name=${page#*:}
  file=$(man -w "$section" "$name" 2>&1)
  [[ $file == "$root/usr/share/man/man$section/$name.$section.gz" ]] || fail "man -w $section $name: $file"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "man $section $name warns: $warnings"
done
manual=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/velmora.1.gz" 2>/dev/null | col -b)
subcommands=$("$velmora" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF {print $1}')
[[ -n $subcommands ]] || fail "velmora --help lists no subcommands"
for subcommand in $subcommands; do
  grep -qE "^ +velmora $subcommand( |$)" <<<"$manual" || fail "velmora(1) does not show 'velmora $subcommand'"
done
unset MANPATH

# The unit as systemd reads it beside the system's units, its program taken from the root;
# systemd only warns about what it does not take, and still answers 0.
unit=$root/usr/lib/systemd/system/velmora-printer-app.service
mkdir "$top/unit"
sed "s|^ExecStart=/|ExecStart=$root/|" "$unit" >"$top/unit/velmora-printer-app.service"
warnings=$(systemd-analyze verify --man=no "$top/unit/velmora-printer-app.service" 2>&1) ||
  fail "systemd-analyze verify: $warnings"
[[ -z $warnings ]] || fail "systemd-analyze verify warns:"$'\n'"$warnings"
grep -q "^ExecStart=$root/usr/sbin/velmora-printer-app " "$top/unit/velmora-printer-app.service" ||
  fail "the unit does not start /usr/sbin/velmora-printer-app"
documentation=$(sed -n 's|^Documentation=file://||p' "$unit")
[[ -f $root$documentation ]] || fail "the unit's documentation $documentation is not in the package"

# --- CUPS: a cupsd whose data folder is the system's, but for the model folder, which is
# the package's. cups-driverd names a PPD by its path inside that folder.
mkdir -p "$top"/{conf,data,spool/tmp,state,cache,log}
for entry in "$(cups-config --datadir)"/*; do
  [[ $(basename "$entry") == model ]] || ln -s "$entry" "$top/data/"
done
ln -s "$root/usr/share/cups/model" "$top/data/model"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export CUPS_SERVER=127.0.0.1:$port
cat >"$top/conf/cups-files.conf" <<EOF
ServerRoot $top/conf
DataDir $top/data
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
if start_private_cupsd "$top" "$port"; then
  models=$(lpinfo -m 2>&1 | grep -i velmora)
  echo "lpinfo -m: $models"
  grep -q "^velmora/velmora-pxl.ppd " <<<"$models" || fail "lpinfo -m does not list velmora/velmora-pxl.ppd"
  # lpadmin warns that PPDs are deprecated, and makes the queue.
  lpadmin -p Office -v file:///dev/null -m velmora/velmora-pxl.ppd 2>/dev/null ||
    fail "lpadmin -m velmora/velmora-pxl.ppd"
  grep -q '^\*cupsFilter2:.*velmora-pxl' "$top/conf/ppd/Office.ppd" 2>/dev/null ||
    fail "the queue made with lpadmin -m has not the package's PPD"
else
  fail "cupsd did not start:"$'\n'"$(tail -n 20 "$top/log/error_log" 2>/dev/null)"
fi

[[ $failures -eq 0 ]] || exit 1
echo "PASS: $(basename "$package"): $(grep -c . <<<"$listing") entries"
