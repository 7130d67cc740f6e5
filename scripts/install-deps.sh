#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when they are missing.
set -euo pipefail

packages=(cmake ninja-build g++ make ccache libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev)
# make package (and its test) finds library dependencies with dpkg-shlibdeps.
packages+=(dpkg-dev)
# The metrics test reads `hbtio stats --prometheus` with the Prometheus client library's parser
# (45 kB); promtool is used instead when installed, but its package is the whole server (96 MB).
packages+=(python3-prometheus-client)
# hbtmqtt: the MQTT client library, the Sparkplug B code generator and its runtime, a JSON
# reader for the primary host's STATE messages, and the broker its tests and `make demo-mqtt`
# start on loopback (never as the system service).
packages+=(libmosquitto-dev protobuf-c-compiler libprotobuf-c-dev mosquitto pkg-config nlohmann-json3-dev)
# `install-deps.sh pictures`: also what scripts/editor-pictures.sh draws and captures with.
[ "${1:-}" = pictures ] && packages+=(xvfb x11-apps imagemagick fonts-dejavu-core)
# `install-deps.sh package`: also what checks the Debian package (make package runs lintian
# when it is there; make test-package needs it).
[ "${1:-}" = package ] && packages+=(lintian)
# Node.js only drives the interoperability tests; any installed node and npm will do.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
