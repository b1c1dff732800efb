#!/usr/bin/env bash
# Builds the Debian package from a finished build folder into a temporary
# folder, unpacks it and checks what apt and a desktop would see: the files
# and their modes, the control fields, the desktop entry and the icons.
#
#   tst_package.sh BUILD_DIR VERSION "16;32;..."
set -uo pipefail

build=${1:?build folder}
version=${2:?project version}
IFS=';' read -r -a sizes <<<"${3:?icon sizes}"

pkg=tavix-gateway-tool
passed=0
failed=0
ok() {
    passed=$((passed + 1))
    echo "ok   $*"
}
fail() {
    failed=$((failed + 1))
    echo "FAIL $*"
}
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then ok "$what"; else fail "$what"; fi
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Build the package exactly as `make package` does, but into tmp so that the
# build folder is left as it was.
if ! (cd "$build" && cpack -G DEB -B "$tmp/out") >"$tmp/cpack.log" 2>&1; then
    cat "$tmp/cpack.log"
    fail "cpack builds the package"
    echo "$passed passed, $failed failed"
    exit 1
fi
shopt -s nullglob
debs=("$tmp"/out/*.deb)
shopt -u nullglob
if [ ${#debs[@]} -ne 1 ]; then
    fail "cpack makes exactly one .deb (found ${#debs[@]})"
    cat "$tmp/cpack.log"
    echo "$passed passed, $failed failed"
    exit 1
fi
deb=${debs[0]}
arch=$(dpkg --print-architecture)

# --- control fields ---------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
version_re=${version//./\\.}
check "file name is ${pkg}_${version}-<release>_${arch}.deb" \
    grep -Eq "^${pkg}_${version_re}-[0-9]+_${arch}\.deb$" <<<"$(basename "$deb")"
check "Package is $pkg" test "$(field Package)" = "$pkg"
check "Version $(field Version) is the project version $version" \
    grep -Eq "^${version_re}(-[0-9A-Za-z.+~]+)?$" <<<"$(field Version)"
check "Architecture is $arch" test "$(field Architecture)" = "$arch"
check "Maintainer has a name and an address" grep -Eq '^[^<]+ <[^@> ]+@[^> ]+>$' <<<"$(field Maintainer)"
check "Section is set" test -n "$(field Section)"
check "Description has a summary and a long text" \
    test "$(field Description | head -1 | wc -w)" -ge 3 -a "$(field Description | wc -l)" -ge 2

# Depends as bare package names, alternatives and version constraints dropped.
depends=$(field Depends | tr ',|' '\n\n' | sed -E 's/\(.*\)//; s/^ +//; s/ +$//' | sed '/^$/d')
echo "Depends: $(field Depends)"
for lib in libqt5core5a libqt5widgets5 libqt5serialport5 libqt5network5 libc6; do
    check "Depends names $lib" grep -qx "$lib" <<<"$depends"
done

# --- contents ---------------------------------------------------------------
expected=("./usr/bin/$pkg" "./usr/share/applications/$pkg.desktop")
for s in "${sizes[@]}"; do
    expected+=("./usr/share/icons/hicolor/${s}x${s}/apps/$pkg.png")
done
dpkg-deb -c "$deb" >"$tmp/list"
# Regular files only: "-rw-r--r-- root/root 1234 2024-01-01 00:00 ./path".
actual=$(awk '$1 ~ /^-/ { print $6 }' "$tmp/list" | sort)
check "the package holds the tool, its desktop entry and ${#sizes[@]} icons, nothing else" \
    test "$actual" = "$(printf '%s\n' "${expected[@]}" | sort)"
[ "$actual" = "$(printf '%s\n' "${expected[@]}" | sort)" ] || {
    echo "  in the package:"
    sed 's/^/    /' <<<"$actual"
}
check "every entry belongs to root/root" test -z "$(awk '$2 != "root/root"' "$tmp/list")"
check "the binary is mode 755" grep -Eq "^-rwxr-xr-x .* \./usr/bin/$pkg$" "$tmp/list"
check "the data files are mode 644" \
    test -z "$(awk '$1 ~ /^-/ && $6 !~ /^\.\/usr\/bin\// && $1 != "-rw-r--r--"' "$tmp/list")"

root=$tmp/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin/$pkg
info=$(file -b "$bin")
check "the binary is a stripped ELF executable ($info)" \
    grep -Eq '^ELF .*, stripped$' <<<"$info"
check "the binary carries no RPATH or RUNPATH into the build folder" \
    test -z "$(readelf -d "$bin" | grep -E 'RPATH|RUNPATH')"
check "every library the binary needs is found" test -z "$(ldd "$bin" | grep 'not found')"

# --- desktop entry ----------------------------------------------------------
desktop=$root/usr/share/applications/$pkg.desktop
validation=$(desktop-file-validate "$desktop" 2>&1)
check "desktop-file-validate finds nothing to say" test -z "$validation"
[ -z "$validation" ] || echo "$validation"
entry() { sed -n "s/^$1=//p" "$desktop"; }
exec_cmd=$(entry Exec | awk '{ print $1 }')
check "Exec ($exec_cmd) is the packaged binary, found on the PATH" \
    test "$exec_cmd" = "$pkg" -a -x "$root/usr/bin/$exec_cmd"
check "Name is the tool's name" test "$(entry Name)" = "Tavix Gateway Tool"
icon=$(entry Icon)
check "Icon ($icon) is a theme name with an icon in the package" \
    test -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png"

# --- icons ------------------------------------------------------------------
for s in "${sizes[@]}"; do
    png=$root/usr/share/icons/hicolor/${s}x${s}/apps/$icon.png
    info=$(file -b "$png" 2>&1)
    check "the ${s}x${s} icon is a $s x $s PNG with alpha ($info)" \
        grep -Eq "^PNG image data, $s x $s, 8-bit/color RGBA" <<<"$info"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
