#!/usr/bin/env bash
# Installs what the build needs on a Debian machine, and nothing when all of it
# is already there. Every entry point of the Makefile calls it first.
#   scripts/setup.sh            the build and test packages
#   scripts/setup.sh --fuzz     also clang and its sanitizer runtimes
#   scripts/setup.sh --bench    also Google Benchmark and GNU time
#   scripts/setup.sh --browser  also Chromium, which the test of the HTML
#                               report opens the page in
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libboost-dev libboost-program-options-dev libboost-filesystem-dev
  libboost-system-dev libboost-thread-dev
  zlib1g-dev libisal-dev libabsl-dev libgtest-dev
  libdw-dev libelf-dev binutils
  python3 groff-base
)
for arg in "$@"; do
  case "$arg" in
    --fuzz)  packages+=(clang libclang-rt-14-dev) ;;
    --bench) packages+=(libbenchmark-dev time) ;;
    --browser) packages+=(chromium fonts-dejavu-core) ;;
    *) echo "setup.sh: unknown argument '$arg'" >&2; exit 1 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "setup.sh: missing packages: ${missing[*]}; run as root to install them" >&2
  exit 1
fi
echo "setup.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
