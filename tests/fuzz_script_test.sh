#!/usr/bin/env bash
# scripts/fuzz's merge safety, with a toy libFuzzer program in a throwaway copy of the
# repository's layout (no build, no real target): the corpus only grows by default; a
# merge that writes a damaged file, meets a crash or is interrupted leaves the corpus and
# the work folder as they were and says so with its exit status; a second run and a
# SECONDS of 0 are refused.
# Usage: fuzz_script_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1

if ! command -v clang++ >/dev/null || ! command -v flock >/dev/null; then
  echo "SKIP: clang++ and flock are needed (scripts/install-deps --fuzz)"
  exit 77
fi
top=$(mktemp -d /tmp/velmora-fuzz-script-XXXXXX)
trap 'rm -rf "$top"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The toy target crashes on BOOM (unless TOY_NEVER_CRASHES is set), takes a second on
# SLOWn, and has a branch of its own for inputs starting with ab, cd, SLOW1 or SLOW2.
cat >"$top/toy.cc" <<'EOF'
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool crashes = std::getenv("TOY_NEVER_CRASHES") == nullptr;
  if (crashes && size >= 4 && std::memcmp(data, "BOOM", 4) == 0) __builtin_trap();
  if (size >= 5 && std::memcmp(data, "SLOW", 4) == 0) {
    sleep(1);
    if (data[4] == '1') return 1;
    if (data[4] == '2') return 2;
  }
  if (size >= 2 && data[0] == 'a' && data[1] == 'b') return 4;
  if (size >= 2 && data[0] == 'c' && data[1] == 'd') return 5;
  return 0;
}
EOF
clang++ -fsanitize=fuzzer -o "$top/fuzz_toy" "$top/toy.cc" || fail "the toy target does not build"

# The layout scripts/fuzz works in; cmake and install-deps do nothing here.
repo=$top/repo
mkdir -p "$repo/scripts" "$repo/fuzz/targets" "$repo/build/fuzz/fuzz" "$top/bin"
cp "$source_dir/scripts/fuzz" "$repo/scripts/fuzz"
printf '#!/bin/sh\nexit 0\n' >"$repo/scripts/install-deps"
printf '#!/bin/sh\ntouch %s/cmake-ran\n' "$top" >"$top/bin/cmake"
# shellcheck disable=SC2016 # $1 is the seed program's argument
printf '#!/bin/sh\nmkdir -p "$1/%s"\n' toy >"$repo/build/fuzz/fuzz/velmora_fuzz_seeds"
touch "$repo/fuzz/targets/toy.cc"
chmod +x "$repo/scripts/"* "$top/bin/cmake" "$repo/build/fuzz/fuzz/velmora_fuzz_seeds"
export PATH=$top/bin:$PATH

# Puts inputs in the corpus (named by their SHA-1, as libFuzzer names them) or the work folder.
add_input() {
  local folder=$repo/$1 bytes=$2
  mkdir -p "$folder"
  printf '%s' "$bytes" >"$folder/$(printf '%s' "$bytes" | sha1sum | cut -c1-40)"
}
# The toy programs still running in the copy (scripts/fuzz starts them by a relative path).
leftovers() {
  local pid
  for pid in $(pgrep -f 'build/fuzz/fuzz/fuzz_toy'); do
    [[ $(readlink "/proc/$pid/cwd") != "$repo" ]] || echo "$pid"
  done
}
# The contents of a folder, one line a file.
contents() { (cd "$repo/$1" 2>/dev/null && find . -type f -exec cat {} \; -exec echo \; | sort); }

# Each case: a fresh corpus of two inputs of the same coverage and a work folder, a run of
# scripts/fuzz, its exit status and output, the corpus and work folder after ('*': any).
fresh() {
  rm -rf "$repo/fuzz/corpus" "$repo/build/fuzz/"{work,crashes,merged,replaced,logs}
  add_input fuzz/corpus/toy ab1
  add_input fuzz/corpus/toy ab2
  for bytes in "$@"; do add_input build/fuzz/work/toy "$bytes"; done
  cp "$top/fuzz_toy" "$repo/build/fuzz/fuzz/fuzz_toy"
}
run_fuzz() {
  (cd "$repo" && timeout 60 scripts/fuzz "$@" >"$top/out" 2>&1)
  status=$?
}
expect() {
  local what=$1 want_status=$2 want_output=$3 want_corpus=$4 want_work=$5
  [[ $status -eq $want_status ]] || fail "$what: exit status $status, not $want_status"
  grep -q -- "$want_output" "$top/out" || fail "$what: the output does not say '$want_output'"
  [[ $(contents fuzz/corpus/toy | paste -sd ' ') == "$want_corpus" ]] ||
    fail "$what: the corpus holds '$(contents fuzz/corpus/toy | paste -sd ' ')', not '$want_corpus'"
  [[ $want_work == '*' || $(contents build/fuzz/work/toy | paste -sd ' ') == "$want_work" ]] ||
    fail "$what: the work folder holds '$(contents build/fuzz/work/toy | paste -sd ' ')', not '$want_work'"
  [[ $failures -eq 0 ]] || cat "$top/out"
}

# ab has the coverage of ab1 and ab2, and is shorter.
fresh ab cd
run_fuzz --seeds toy
expect "a merge adds" 0 clean "ab1 ab2 cd" ""

# A new target, with no corpus folder (and no fuzz/corpus/ at all), gets one.
fresh cd
rm -rf "$repo/fuzz/corpus"
run_fuzz --seeds toy
expect "a new target" 0 "made it, empty" "cd" ""

fresh ab cd
run_fuzz --seeds --minimize toy
expect "--minimize re-minimizes" 0 clean "ab cd" ""

# An input of the corpus longer than the target's 64 KiB stays whole.
fresh
add_input fuzz/corpus/toy "cd$(head -c 70000 /dev/zero | tr '\0' x)"
run_fuzz --seeds --minimize toy
[[ $status -eq 0 && -n $(find "$repo/fuzz/corpus/toy" -size 70002c) ]] ||
  fail "--minimize cut a long input short: $(find "$repo/fuzz/corpus/toy" -type f -printf '%s ')"

fresh cd
TOY_NEVER_CRASHES=1 run_fuzz --no-merge 1 toy
expect "--no-merge" 0 clean "ab1 ab2" "*"

# A failed write: the program writes the merged folder, then one file of it loses its bytes.
fresh cd
cat >"$repo/build/fuzz/fuzz/fuzz_toy" <<EOF
#!/bin/bash
"$top/fuzz_toy" "\$@" || exit
for arg in "\$@"; do [[ \$arg == -* ]] || { : >"\$arg/\$(ls -t "\$arg" | head -1)"; exit; }; done
EOF
chmod +x "$repo/build/fuzz/fuzz/fuzz_toy"
run_fuzz --seeds toy
expect "a damaged merged file" 1 "damaged files" "ab1 ab2" "cd"

fresh cd BOOM
run_fuzz --seeds toy
expect "a crash in the merge" 1 "CRASH in the merge" "ab1 ab2" "BOOM cd"

# Ctrl-C (SIGINT to the run's process group) while the merge runs the slow inputs.
fresh SLOW1 SLOW2
(cd "$repo" && exec setsid scripts/fuzz --seeds toy >"$top/out" 2>&1) &
run=$!
for _ in $(seq 100); do
  grep -qs 'MERGE-INNER' "$repo/build/fuzz/logs/toy.merge.log" && break
  sleep 0.1
done
sleep 0.5
kill -INT -- -"$run"
wait "$run"
status=$?
expect "an interrupted merge" 130 interrupted "ab1 ab2" "SLOW1 SLOW2"

# SIGTERM to the script alone: it ends the merge and what the merge started.
fresh SLOW1 SLOW2
(cd "$repo" && exec scripts/fuzz --seeds toy >"$top/out" 2>&1) &
run=$!
for _ in $(seq 100); do
  grep -qs 'MERGE-INNER' "$repo/build/fuzz/logs/toy.merge.log" && break
  sleep 0.1
done
kill -TERM "$run"
wait "$run"
status=$?
expect "a terminated merge" 143 interrupted "ab1 ab2" "SLOW1 SLOW2"
sleep 0.2
[[ -z $(leftovers) ]] || fail "a terminated merge left its programs running"

# Ctrl-C between the two renames that replace the corpus: they finish, and the script says so.
fresh cd
# shellcheck disable=SC2016 # the wrapper expands its own arguments
printf '#!/bin/sh\n/bin/mv "$@" || exit\ncase $3 in */replaced/*) kill -INT 0 ;; esac\n' >"$top/bin/mv"
chmod +x "$top/bin/mv"
(cd "$repo" && exec setsid scripts/fuzz --seeds toy >"$top/out" 2>&1)
status=$?
rm "$top/bin/mv"
expect "Ctrl-C between the renames" 130 "the corpus of toy was replaced" "ab1 ab2 cd" "cd"

# A run stopped there by SIGKILL left the old corpus in build/fuzz/replaced/ alone: the next
# run puts it back and merges again.
fresh cd
mkdir -p "$repo/build/fuzz/replaced"
mv "$repo/fuzz/corpus/toy" "$repo/build/fuzz/replaced/toy"
run_fuzz --seeds toy
expect "a corpus left in build/fuzz/replaced/" 0 "restored it from" "ab1 ab2 cd" ""

# SIGKILL to the run's process group while fuzzing: the program, in a group of its own,
# may run on, but does not hold the lock.
fresh
(cd "$repo" && TOY_NEVER_CRASHES=1 exec setsid scripts/fuzz --no-merge 20 toy >"$top/out" 2>&1) &
run=$!
for _ in $(seq 100); do
  grep -qs 'INFO: Seed' "$repo/build/fuzz/logs/toy.log" && break
  sleep 0.1
done
{
  kill -KILL -- -"$run"
  wait "$run"
} 2>/dev/null # no "Killed" from the shell
flock -n "$repo/build/fuzz/lock" true || fail "a program of a killed run holds the lock"
for pid in $(leftovers); do kill "$pid"; done

fresh cd
exec 8>"$repo/build/fuzz/lock"
flock -n 8
run_fuzz --seeds toy
expect "a second run at once" 2 "another scripts/fuzz is running" "ab1 ab2" "cd"
exec 8>&-

rm -f "$top/cmake-ran"
for arguments in "0 toy" "604801 toy" "1 no_such_target" "--minimize --no-merge 1 toy"; do
  # shellcheck disable=SC2086 # the arguments are words
  run_fuzz $arguments
  expect "scripts/fuzz $arguments" 2 "scripts/fuzz --help" "ab1 ab2" "cd"
done
[[ ! -e $top/cmake-ran ]] || fail "wrong arguments started a build"

# A failed build (make's exit status is 2) is a failure, not wrong arguments.
mv "$top/bin/cmake" "$top/cmake"
printf '#!/bin/sh\nexit 2\n' >"$top/bin/cmake"
chmod +x "$top/bin/cmake"
run_fuzz --seeds toy
expect "a failed build" 1 "building the fuzz preset failed" "ab1 ab2" "cd"
mv "$top/cmake" "$top/bin/cmake"

[[ $failures -eq 0 ]] || exit 1
echo "PASS"
