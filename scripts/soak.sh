#!/usr/bin/env bash
# The whole driver under random faults against mcsim for SOAK_SECONDS (default 300), with an
# oracle over every value read and every write queued (tools/soak/soak.cc). SOAK_SEED picks
# the random choices; SOAK_FAULTS="silent,delay" injects only those kinds. Exit 1 on violations.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${SOAK_SECONDS:-300}
seed=${SOAK_SEED:-$(date +%s)}
cmake --build --preset default --target hbt_soak -j "${JOBS:-2}" >/dev/null
echo "== load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
exec build/bin/hbt_soak --seconds "$seconds" --seed "$seed" ${SOAK_FAULTS:+--faults "$SOAK_FAULTS"}
