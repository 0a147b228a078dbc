#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test Ostel RAW.
# Idempotent and quiet when everything is present; works as root or via sudo.
set -euo pipefail

packages=(
  build-essential g++ clang libclang-rt-14-dev libomp-14-dev cmake ninja-build pkg-config
  qt6-base-dev libsqlite3-dev zlib1g-dev libtiff-dev liblcms2-dev libvigraimpex-dev
  libjpeg62-turbo-dev libjxl-dev libpng-dev libexiv2-dev nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool libimage-exiftool-perl libgl1-mesa-dri
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
