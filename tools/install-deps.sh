#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, skipping those present.
set -euo pipefail

packages=(
  cmake ninja-build g++ gcc pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev valgrind
  libmsgpack-dev zlib1g-dev libssl-dev openssl
  nlohmann-json3-dev libboost-dev
  nfdump tshark
  procps iproute2 ca-certificates
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js with npm runs the forward-protocol receiver of the tests; any install will do.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  missing+=(nodejs npm)
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # tshark asks whether non-root users may capture; answer before it is installed.
  echo 'wireshark-common wireshark-common/install-setuid boolean false' | debconf-set-selections
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
