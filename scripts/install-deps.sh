#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when any is missing.
# Usage: scripts/install-deps.sh [--with-bench] [--with-fonts] [--with-screenshots]
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev nlohmann-json3-dev qt6-base-dev
  curl tftp-hpa socat python3
  xvfb xauth
)
# Extras, any number of them:
#   --with-bench        the benchmark's peer servers and plotting
#   --with-fonts        a CJK font, so that the Chinese language pack renders in the window
#   --with-screenshots  what scripts/screenshots.sh drives the window and captures it with
for flag in "$@"; do
  case "$flag" in
    --with-bench) packages+=(tftpd-hpa dnsmasq-base util-linux python3-matplotlib libwrap0 libpcre2-8-0) ;;
    --with-fonts) packages+=(fonts-noto-cjk) ;;
    --with-screenshots) packages+=(imagemagick xdotool fonts-noto-cjk) ;;
    *)
      echo "install-deps.sh: unknown option $flag (--with-bench, --with-fonts, --with-screenshots)" >&2
      exit 2
      ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
