#!/usr/bin/env bash
# Runs one test file of the OPC UA service in node's test runner, with the npm packages the
# build installed on the module path. Exit 77 (skipped) when they could not be installed, or
# when the build says why the test cannot run (HBTUA_TEST_SKIP).
set -euo pipefail
test_file=$1
dir=${HBTUA_DIR:?HBTUA_DIR names the service folder of the build}
if [ -n "${HBTUA_TEST_SKIP:-}" ]; then
  echo "$HBTUA_TEST_SKIP: skipped"
  exit 77
fi
if [ ! -f "$dir/node_modules/.hbt-installed" ]; then
  echo "the npm packages of hbtua are not installed (npm registry unreachable?): skipped"
  exit 77
fi
export NODE_PATH=$dir/node_modules
# TAP: each failure comes with its assertion, expected and actual values and the stack.
exec node --test --test-reporter=tap "$test_file"
