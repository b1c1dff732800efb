#!/usr/bin/env bash
# Builds the Debian package from a finished build folder into a temporary
# folder and checks it as apt, a desktop and a software centre would see it:
# lintian (file modes, owners, stripping, search paths, icon sizes, control
# fields), the files it holds, the version it names, the copyright and
# changelog, the desktop entry and the AppStream metadata.
#
#   tst_package.sh BUILD_DIR VERSION "16;32;..." APPSTREAM_ID PACKAGE "QT_LIBRARY;..."
set -uo pipefail

build=${1:?build folder}
version=${2:?project version}
IFS=';' read -r -a sizes <<<"${3:?icon sizes}"
appstream_id=${4:?AppStream id}
pkg=${5:?package name}
IFS=';' read -r -a qt_libraries <<<"${6:?toolkit libraries}"

# The program and its files keep their name whichever toolkit's package
# holds them.
prog=tavix-gateway-tool
passed=0
failed=0
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   $what"
    else
        failed=$((failed + 1))
        echo "FAIL $what"
    fi
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Built exactly as `make package` does, but into tmp so that the build folder
# is left as it was.
(cd "$build" && cpack -G DEB -B "$tmp/out") >"$tmp/cpack.log" 2>&1
debs=("$tmp"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    cat "$tmp/cpack.log"
    echo "0 passed, 1 failed"
    exit 1
fi
deb=${debs[0]}
field() { dpkg-deb -f "$deb" "$1"; }

# Kept warning: initial-upload-closes-no-bugs. The package is not meant for
# Debian's archive, so there is no "intent to package" bug to close.
lintian_out=$(lintian --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs \
    "$deb" 2>&1)
check "lintian reports no error or warning" test $? -eq 0
grep -v 'running with root privileges' <<<"$lintian_out"

check "$(basename "$deb") is version $version-<release> for $(dpkg --print-architecture)" \
    grep -Eq "^${pkg}_${version//./\\.}-[0-9]+_$(dpkg --print-architecture)\.deb$" \
    <<<"$(basename "$deb")"
echo "Depends: $(field Depends)"
depends_on() { [ -n "$1" ] && grep -Eq "(^|, )$1( |,|$)" <<<"$(field Depends)"; }
for library in "${qt_libraries[@]}"; do
    lib=$(dpkg -S "$(readlink -f "$library")" 2>/dev/null | cut -d: -f1)
    check "Depends names ${lib:-the package of $library}" depends_on "$lib"
done

doc=./usr/share/doc/$pkg
expected=("./usr/bin/$prog" "./usr/share/applications/$prog.desktop" "$doc/copyright"
    "$doc/changelog.Debian.gz" "./usr/share/man/man1/$prog.1.gz"
    "./usr/share/metainfo/$appstream_id.metainfo.xml")
for s in "${sizes[@]}"; do
    expected+=("./usr/share/icons/hicolor/${s}x${s}/apps/$prog.png")
done
actual=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $6 }' | sort)
check "the package holds the tool, its desktop entry, ${#sizes[@]} icons, its documents and metadata" \
    test "$actual" = "$(printf '%s\n' "${expected[@]}" | sort)"
root=$tmp/root
dpkg-deb -x "$deb" "$root"

check "the copyright file is machine-readable" grep -qx \
    'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$root/$doc/copyright"
check "the changelog's latest entry is the package's version $(field Version)" \
    test "$(zcat "$root/$doc/changelog.Debian.gz" | head -1 | cut -d' ' -f1,2)" = \
    "$prog ($(field Version))"

desktop=$root/usr/share/applications/$prog.desktop
check "desktop-file-validate finds nothing to say" test -z "$(desktop-file-validate "$desktop" 2>&1)"
desktop-file-validate "$desktop"
check "the desktop entry's icon is the packaged one" grep -qx "Icon=$prog" "$desktop"

metainfo=$root/usr/share/metainfo/$appstream_id.metainfo.xml
# No network here: the screenshot's address is checked for its form only.
appstreamcli validate --no-net --pedantic "$metainfo"
check "appstreamcli validates the metainfo" test $? -eq 0
holds() { # holds FILE TEXT...: every TEXT is in FILE
    local file=$1
    shift
    for text in "$@"; do grep -qF "$text" "$file" || return 1; done
}
check "the metainfo names a screenshot, release $version and the desktop entry" \
    holds "$metainfo" '<screenshot type="default">' "<release version=\"$version\"" \
    "<launchable type=\"desktop-id\">$prog.desktop</launchable>"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
