#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Quiet and quick when everything is already there; runs apt-get update only
# when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libpoppler-private-dev libpoppler-dev
  libtiff-dev libjpeg62-turbo-dev libopenjp2-7-dev zlib1g-dev nettle-dev
  libgtest-dev libbenchmark-dev
  qpdf poppler-utils python3 python3-cryptography
)
if [ "${OSSEL_BENCH_DEPS:-0}" = 1 ]; then
  packages+=(mupdf-tools ghostscript time)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in
    *"install ok installed"*) ;;
    *) missing+=("$p") ;;
  esac
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
