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
targets=${FUZZ_TARGETS:-"poller_reply image_check editor_config editor_csv host_text registry_text mcsim_request"}
failed=0
printf '%-15s %10s %8s %8s %8s  %s\n' target runs exec/s edges corpus result
for t in $targets; do
  args=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$out/crashes/$t-" -timeout=10
        -rss_limit_mb=2048)
  [ -f "fuzz/dictionaries/$t.dict" ] && args+=(-dict="fuzz/dictionaries/$t.dict")
  [ "$t" = editor_csv ] && args+=(-max_len=65536)
  log="$out/logs/$t.log"
  rc=0
  "$out/bin/fuzz_$t" "${args[@]}" "$out/corpus/$t" >"$log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(grep -o 'exec/s: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  corpus=$(ls "$out/corpus/$t" | wc -l)
  result=ok
  if [ $rc -ne 0 ]; then
    what=$(grep -m1 -E 'invariant broken|ERROR: (Address|Undefined|Leak)Sanitizer|runtime error|ERROR: libFuzzer' "$log" || true)
    result="CRASH: $what"
    known=0
    while IFS= read -r pattern; do
      [ -z "$pattern" ] || [ "${pattern:0:1}" = "#" ] && continue
      grep -qF -- "$pattern" "$log" && known=1
    done < fuzz/known_open.txt
    if [ $known -eq 1 ]; then
      result="known open fault: $what"
    else
      failed=1
      grep -A25 -m1 -E 'invariant broken|ERROR: |runtime error' "$log" | head -30 >&2 || true
    fi
  fi
  printf '%-15s %10s %8s %8s %8s  %s\n' "$t" "${runs:-0}" "${speed:-0}" "${edges:-0}" "$corpus" "$result"
done
echo "fuzz step took $(( $(date +%s) - start )) s"
exit $failed
