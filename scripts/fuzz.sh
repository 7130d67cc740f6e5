#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz, build-fuzz/) and runs each for FUZZ_SECONDS
# (default 30) over its corpus: the seeds the targets make from the tests' examples, plus
# whatever earlier runs kept in build-fuzz/corpus. Crash inputs land in build-fuzz/crashes/.
# FUZZ_TARGETS="a b" picks targets. Exit 1 when a run broke something not listed as a
# known open fault in fuzz/known_open.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
jobs=${JOBS:-2}

# clang with its sanitizer and libFuzzer runtimes: needed here only, so `make test` stays light.
need=()
command -v clang++ >/dev/null 2>&1 || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
fi

start=$(date +%s)
test -f build-fuzz/build.ninja || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
echo "fuzz build took $(( $(date +%s) - start )) s"

out=build-fuzz
build-fuzz/bin/fuzz_seeds "$out/corpus" >/dev/null
mkdir -p "$out/crashes" "$out/logs"
targets=${FUZZ_TARGETS:-"poller_reply image_check editor_config editor_csv host_text registry_text mcsim_request opc_item_id inf_reader mqtt_command"}
failed=0
known_open() {  # whether the log names a fault listed in fuzz/known_open.txt
  while IFS= read -r pattern; do
    [ -z "$pattern" ] || [ "${pattern:0:1}" = "#" ] && continue
    grep -qF -- "$pattern" "$1" && return 0
  done < fuzz/known_open.txt
  return 1
}

printf '%-15s %10s %8s %8s %8s  %s\n' target runs exec/s edges corpus result
for t in $targets; do
  # Fork mode goes on after a crash, so that a known open fault found early does not end
  # the run; every crash input is replayed afterwards and judged.
  args=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -max_total_time="$seconds"
        -artifact_prefix="$out/crashes/$t-" -timeout=10 -rss_limit_mb=2048)
  [ -f "fuzz/dictionaries/$t.dict" ] && args+=(-dict="fuzz/dictionaries/$t.dict")
  [ "$t" = editor_csv ] && args+=(-max_len=65536)
  log="$out/logs/$t.log"
  before=$(ls "$out/crashes" | grep -c "^$t-" || true)
  "$out/bin/fuzz_$t" "${args[@]}" "$out/corpus/$t" >"$log" 2>&1 || true
  # Fork mode's progress lines: "#RUNS: cov: EDGES ft: F corp: N exec/s SPEED ...".
  last=$(grep -E '^#[0-9]+: cov:' "$log" | tail -1 || true)
  runs=$(echo "$last" | sed -n 's/^#\([0-9]*\):.*/\1/p')
  speed=$(echo "$last" | sed -n 's/.*exec\/s:\{0,1\} \([0-9]*\).*/\1/p')
  edges=$(echo "$last" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
  corpus=$(ls "$out/corpus/$t" | wc -l)
  result=ok
  found=0 known=0
  for crash in $(ls -t "$out/crashes" | grep "^$t-" | head -n $(( $(ls "$out/crashes" | grep -c "^$t-" || true) - before ))); do
    found=$((found + 1))
    replay="$out/logs/$crash.replay"
    "$out/bin/fuzz_$t" "$out/crashes/$crash" >"$replay" 2>&1 || true
    if known_open "$replay"; then
      known=$((known + 1))
    else
      failed=1
      echo "== $t: new fault, input $out/crashes/$crash" >&2
      grep -m1 -A20 -E 'invariant broken|ERROR: |runtime error' "$replay" | head -24 >&2 || true
    fi
  done
  [ $found -gt 0 ] && result="$found crash inputs, $known of known open faults"
  printf '%-15s %10s %8s %8s %8s  %s\n' "$t" "${runs:-0}" "${speed:-0}" "${edges:-0}" "$corpus" "$result"
done
echo "fuzz step took $(( $(date +%s) - start )) s"
exit $failed
