#!/usr/bin/env bash
# Installs the Debian packages the project needs, and nothing when they are
# all present already. Uses sudo when not run as root.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
    xvfb xauth imagemagick
    dpkg-dev file desktop-file-utils
)
# Extra sets, asked for by name: sanitizer and fuzzing builds.
for extra in "$@"; do
    case "$extra" in
    fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    *) echo "install-deps: unknown set '$extra'" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
