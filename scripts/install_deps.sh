#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, fuzz and benchmark.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-dev
  libimobiledevice-dev libplist-dev libusbmuxd-dev libimobiledevice-utils libplist-utils
  libsqlite3-dev sqlite3 zlib1g-dev libdeflate-dev libre2-dev libcurl4-openssl-dev libgoogle-glog-dev rapidjson-dev
  libtinyxml2-dev libminizip-dev libssl-dev libjpeg-dev libunwind-dev libtcmalloc-minimal4
  libprotobuf-dev protobuf-compiler
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 unzip ideviceinstaller procps
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install_deps: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "install_deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
