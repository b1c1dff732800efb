#!/usr/bin/env bash
# Builds the Qt the Windows tool links against: Qt 5.15.8's qtbase and
# qtserialport, cross-compiled for x86-64 Windows with MinGW-w64, shared and
# release, with only the features the tool and its tests use. The result is
# kept in a cache outside the source tree and reused by every later run; the
# first build takes about half an hour on two cores.
#
#   packaging/windows/build-qt.sh            prints the Qt prefix when done
#
# Where the sources come from, in this order:
#   QTBASE_SRC / QTSERIALPORT_SRC   a source folder or a release tarball
#   apt-get source                  Debian's source package, checked against
#                                   the archive's signed index (qtbase's
#                                   security fixes come with it)
#   TAVIX_THIRD_PARTY               a folder of release tarballs (default: the
#                                   third-party folder beside this checkout)
# TAVIX_WINDOWS_CACHE sets the cache (default ~/.cache/tavix-gateway-tool/windows).
set -euo pipefail

qt_version=5.15.8
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
cache=${TAVIX_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavix-gateway-tool/windows}
third_party=${TAVIX_THIRD_PARTY:-$(cd "$top/.." && pwd)/shared/third-party}
jobs=${JOBS:-$(nproc)}
cross=x86_64-w64-mingw32-

# Every feature left out is one the tool never reaches: no OpenGL (the
# widgets paint in software), no D-Bus, ICU, OpenSSL, SQL, printing, XML or
# Qt Concurrent. Tablet events are off because Debian's repack of qtbase
# drops the wintab header they need. FreeType is off: Windows draws text
# through its own font engine.
qt_features=(
    -opensource -confirm-license -release -shared -strip
    -nomake examples -nomake tests
    -no-opengl -no-dbus -no-icu -no-openssl -no-freetype -no-libjpeg
    -qt-zlib -qt-libpng -qt-pcre -qt-harfbuzz
    -no-feature-sql -no-feature-printer -no-feature-xml -no-feature-concurrent
    -no-feature-tabletevent -no-feature-vulkan
)

prefix=$cache/qt-$qt_version-mingw64
# The prefix is reused only if it was built from the same options.
stamp_text="qt $qt_version ${qt_features[*]}"

say() { printf 'build-qt: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }

if [ -f "$prefix/.complete" ] && [ "$(cat "$prefix/.complete")" = "$stamp_text" ]; then
    echo "$prefix"
    exit 0
fi

for tool in "${cross}g++" "${cross}gcc" perl make xz tar; do
    command -v "$tool" >/dev/null ||
        die "needs $tool; run: scripts/install-deps.sh windows"
done

mkdir -p "$cache/src" "$cache/logs"
src=$cache/src

# apt-get with a private index that also lists source packages, made from
# the system's own list of mirrors; it needs neither root nor a change to the
# system's configuration.
apt_private() {
    local dir=$cache/apt
    mkdir -p "$dir/etc/sources.list.d" "$dir/lists/partial" "$dir/cache/archives/partial"
    : >"$dir/etc/sources.list"
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -n -e 's/^deb \(.*\)/deb \1\ndeb-src \1/p' "$f" >>"$dir/etc/sources.list"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        sed -e 's/^Types: *deb *$/Types: deb deb-src/' "$f" >"$dir/etc/sources.list.d/$(basename "$f")"
    done
    apt-get -q -o Dir::Etc::SourceList="$dir/etc/sources.list" \
        -o Dir::Etc::SourceParts="$dir/etc/sources.list.d" \
        -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache" \
        -o APT::Sandbox::User="$(id -un)" "$@"
}

# Unpacks a release tarball or copies a folder into $src/<name>.
from_local() {
    local given=$1 name=$2
    rm -rf "${src:?}/$name"
    if [ -d "$given" ]; then
        cp -a "$given" "$src/$name"
    else
        mkdir -p "$src/$name"
        tar -xf "$given" -C "$src/$name" --strip-components=1
    fi
}

# Debian's source package of this Qt version, if the archive serves it: apt
# checks the files against the signed index before dpkg-source unpacks and
# patches them. Prints the package's version.
from_debian() {
    local package=$1 name=$2
    command -v dpkg-source >/dev/null || return 1
    local dl=$cache/apt/download-$name log=$cache/logs/apt-$name.log
    rm -rf "$dl" && mkdir -p "$dl"
    (cd "$dl" && apt_private update >"$log" 2>&1 &&
        apt_private source --download-only "$package" >>"$log" 2>&1) || return 1
    local version
    version=$(sed -n 's/^Version: //p' "$dl"/*.dsc)
    case "$version" in
    "$qt_version"[+-]*) ;;
    *)
        echo "the archive's $package is $version, not Qt $qt_version" >>"$log"
        return 1
        ;;
    esac
    rm -rf "${src:?}/$name"
    dpkg-source -x --no-check "$dl"/*.dsc "$src/$name" >>"$log" 2>&1 && echo "$version"
}

# fetch <name> <Debian source package> <variable> <tarball glob>: unpacks the
# source into $src/<name> and says where it came from in $src/<name>.origin.
fetch() {
    local name=$1 package=$2 given=$3 pattern=$4 version
    if [ -n "$given" ]; then
        [ -e "$given" ] || die "$name: $given does not exist"
        say "$name from $given"
        from_local "$given" "$name"
        echo "$name: $(basename "$given")" >"$src/$name.origin"
        return
    fi
    say "$name: asking the archive for Debian's source package $package"
    if version=$(from_debian "$package" "$name"); then
        say "$name from Debian's source package $package $version"
        echo "$name: Debian's source package $package $version" >"$src/$name.origin"
        return
    fi
    local tarball
    tarball=$(ls "$third_party"/$pattern 2>/dev/null | head -n 1 || true)
    if [ -n "$tarball" ]; then
        say "$name: not served by the archive (see $cache/logs/apt-$name.log); using $tarball"
        from_local "$tarball" "$name"
        echo "$name: Qt's release $qt_version ($(basename "$tarball"))" >"$src/$name.origin"
        return
    fi
    die "$name: no source. The package archive did not serve $package $qt_version (see
$cache/logs/apt-$name.log) and $third_party holds no $pattern.
Name a source folder or Qt's release tarball of $name $qt_version, for example:
    make windows $3=/path/to/$name-everywhere-opensource-src-$qt_version.tar.xz"
}

started=$(date +%s)
fetch qtbase qtbase-opensource-src "${QTBASE_SRC:-}" "qtbase*-$qt_version*.tar.*"
fetch qtserialport qtserialport-opensource-src "${QTSERIALPORT_SRC:-}" "qtserialport*-$qt_version*.tar.*"
# A tree taken from git lacks the generated forwarding headers; syncqt makes
# them when it sees a .git folder at the top.
for name in qtbase qtserialport; do
    [ -d "$src/$name/include" ] || mkdir -p "$src/$name/.git"
done

rm -rf "$prefix" "$cache/build"
mkdir -p "$cache/build/qtbase" "$cache/build/qtserialport"

say "configuring qtbase (logs in $cache/logs)"
(cd "$cache/build/qtbase" &&
    "$src/qtbase/configure" -prefix "$prefix" -xplatform win32-g++ \
        -device-option CROSS_COMPILE=$cross "${qt_features[@]}") \
    >"$cache/logs/qtbase-configure.log" 2>&1 ||
    die "qtbase's configure failed: see $cache/logs/qtbase-configure.log"

say "building qtbase with $jobs jobs (about half an hour on two cores)"
(cd "$cache/build/qtbase" && make -j"$jobs" && make install) \
    >"$cache/logs/qtbase-build.log" 2>&1 ||
    die "qtbase's build failed: see the end of $cache/logs/qtbase-build.log"

say "building qtserialport"
(cd "$cache/build/qtserialport" && "$prefix/bin/qmake" "$src/qtserialport" &&
    make -j"$jobs" && make install) >"$cache/logs/qtserialport-build.log" 2>&1 ||
    die "qtserialport's build failed: see the end of $cache/logs/qtserialport-build.log"

# The licence texts the LGPL asks to ship beside the DLLs, and where the
# sources came from.
mkdir -p "$prefix/licenses"
cp "$src/qtbase/LICENSE.LGPLv3" "$src/qtbase/LICENSE.GPL2" "$src/qtbase/LICENSE.GPL3" "$prefix/licenses/"
cat "$src/qtbase.origin" "$src/qtserialport.origin" >"$prefix/licenses/SOURCES.txt"
# Only the result is kept: the sources and the build take 500 MB more.
rm -rf "$cache/build" "$src" "$cache/apt"
echo "$stamp_text" >"$prefix/.complete"
say "Qt ready in $prefix after $(($(date +%s) - started)) s ($(du -sh "$prefix" | cut -f1))"
echo "$prefix"
