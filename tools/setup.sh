#!/usr/bin/env bash
# Installs the Debian packages the build and tests need (only those missing),
# then configures and builds into the given folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
pkgs=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev python3
      zlib1g-dev libssl-dev unicode-data libcurl4-openssl-dev xvfb xclip
      libpng-dev libjpeg62-turbo-dev libgif-dev libtiff-dev python3-pil python3-pyte
      clang libclang-rt-dev tmux)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
cmake -S . -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
