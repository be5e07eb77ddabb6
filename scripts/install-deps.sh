#!/usr/bin/env bash
# Installs the Debian packages brindle needs to build, only those missing.
set -euo pipefail
# clang brings libFuzzer and its sanitizer runtimes, for `make fuzz`.
packages=(g++ make cmake pkg-config libre2-dev libutf8proc-dev libgtest-dev clang)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
