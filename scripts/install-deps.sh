#!/usr/bin/env bash
# Installs the Debian packages the project needs that are missing, and nothing
# when they are all present already. Without arguments: what building and
# running the tool takes, make included, so that it works on a machine that
# has nothing but git, with Qt 5, or Qt 6 when QT_MAJOR=6 is in the
# environment. Named sets add to that:
#
#   package      what `make package` needs beyond the build (nothing now: the
#                build's set has it, so that no second root step comes)
#   test         what the test suite needs beyond the build (the package checks)
#   screenshots  Xvfb and ImageMagick, for the README's screenshots
#   fuzz         clang and its sanitizer runtime, for `make fuzz`
#   windows      the MinGW-w64 cross compiler, NSIS, Wine and what `make
#                windows` and `make windows-test` need besides
#
# As root it calls apt-get itself, otherwise through sudo; a user with
# neither is told what to run as root.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    # A bare system has no font, and the window would show no text.
    fonts-dejavu-core
    # What the package's build looks at its files with.
    file
)
case "${QT_MAJOR:-5}" in
5) packages+=(qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev) ;;
6) packages+=(qt6-base-dev qt6-base-dev-tools qt6-serialport-dev) ;;
*)
    echo "install-deps: QT_MAJOR is '$QT_MAJOR': 5 or 6" >&2
    exit 2
    ;;
esac
for extra in "$@"; do
    case "$extra" in
    package) ;;
    test) packages+=(lintian appstream desktop-file-utils) ;;
    screenshots) packages+=(xvfb xauth imagemagick x11-utils) ;;
    fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    # dpkg-dev unpacks Debian's Qt sources; fonts-wine gives Wine the
    # fonts Windows has (without it every text falls back to a serif).
    windows) packages+=(g++-mingw-w64-x86-64-posix nsis wine wine64 fonts-wine fonts-liberation dpkg-dev xz-utils
        perl xvfb xauth imagemagick x11-utils xdotool iproute2 tesseract-ocr) ;;
    *)
        echo "install-deps: unknown set '$extra'" >&2
        exit 2
        ;;
    esac
done

if ! command -v apt-get >/dev/null; then
    echo "install-deps: this is not a Debian-like system; install the equivalents of" \
        "${packages[*]} with your system's package manager, then run this again." >&2
    exit 1
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    # Without a password where sudo allows it, else asking for one.
    if command -v sudo >/dev/null && { sudo -n true 2>/dev/null || sudo -v; }; then
        as_root=(sudo)
    else
        cat >&2 <<EOF
install-deps: installing packages needs root, and sudo is missing or not allowed
for you. Run this with the root password (or ask whoever looks after this
computer to):

    su -c 'apt-get update && apt-get install --no-install-recommends ${missing[*]}'

Then run ./run or ./test again.
EOF
        exit 1
    fi
fi
echo "install-deps: installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
