#!/usr/bin/env bash
# Installs the Debian packages the project needs; only what is missing.
set -euo pipefail
packages=(gringo libtbb-dev libpcre2-dev libgtest-dev libbenchmark-dev
          cmake g++ make clang-14 libclang-rt-14-dev graphviz pkg-config)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
