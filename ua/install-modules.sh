#!/usr/bin/env bash
# Installs the npm packages of the OPC UA service as package-lock.json pins them (npm ci,
# production only) into DEST/node_modules, once per lock file: a stamp holding the lock
# file's checksum says it is done, so a build that finds it does nothing. Without npm or the
# registry the build goes on without the service (its tests then skip); the next build tries
# again.
# Usage: install-modules.sh SOURCE_DIR DEST_DIR
set -uo pipefail
src=$1 dest=$2
mkdir -p "$dest"
cp "$src/package.json" "$src/package-lock.json" "$dest/"
stamp=$dest/node_modules/.hbt-installed
want=$(sha256sum "$src/package-lock.json" | cut -d' ' -f1)
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && exit 0

if ! command -v npm >/dev/null 2>&1; then
  echo "hbtua: npm is not installed: the OPC UA service is left out of this build" >&2
  exit 0
fi
# Several builds may share the folder (a build and its tests): one installs at a time.
(
  flock 9
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && exit 0
  rm -f "$stamp"
  timeout 900 npm ci --omit=dev --no-audit --no-fund --loglevel=error --prefix "$dest" >&2 &&
    echo "$want" >"$stamp"
) 9>"$dest/.install.lock"
if [ ! -f "$stamp" ]; then
  echo "hbtua: npm ci failed (is the npm registry reachable?): the OPC UA service is left out of this build" >&2
fi
exit 0
