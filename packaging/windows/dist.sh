#!/usr/bin/env bash
# Gathers what the Windows tool needs into one folder and packs it twice: as
# <name>-win64.zip (unzip and run) and as <name>-setup.exe (an installer made
# with NSIS). Called by the build's windows-dist target.
#
#   dist.sh --exe <tool.exe> --qt <Qt prefix> --name <name> --version <x.y> --out <folder>
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cross=x86_64-w64-mingw32-
while [ $# -gt 1 ]; do
    case "$1" in
    --exe) exe=$2 ;;
    --qt) qt=$2 ;;
    --name) name=$2 ;;
    --version) version=$2 ;;
    --out) out=$2 ;;
    *) echo "dist.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done

stage=$out/dist/$name
rm -rf "$out/dist" && mkdir -p "$stage/platforms" "$stage/licenses"

cp "$exe" "$stage/"
# The platform plugin is what opens windows at all. No style plugin: the
# tool draws with Fusion, which is part of Qt5Widgets.dll.
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"

# Every DLL that the program and the plugins import, and the DLLs those
# import in turn, found among Qt's and the compiler's own; whatever is not
# found there is part of Windows.
gcc_dir=$(dirname "$("${cross}g++-posix" -print-file-name=libstdc++-6.dll)")
pthread_dir=$(dirname "$("${cross}g++-posix" -print-file-name=libwinpthread-1.dll)")
search=("$qt/bin" "$gcc_dir" "$pthread_dir")
imports() { "${cross}objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
queue=("$stage"/*.exe "$stage"/platforms/*.dll)
while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    while read -r dll; do
        [ -e "$stage/$dll" ] && continue
        for dir in "${search[@]}"; do
            if [ -f "$dir/$dll" ]; then
                cp "$dir/$dll" "$stage/$dll"
                queue+=("$stage/$dll")
                break
            fi
        done
    done < <(imports "$file")
done
find "$stage" -name '*.dll' -o -name '*.exe' | xargs "${cross}strip" --strip-unneeded

# Texts for the user, with Windows line ends so that any editor shows them.
crlf() { sed -e 's/\r*$/\r/' "$1" >"$2"; }
crlf "$here/README-Windows.txt" "$stage/README.txt"
crlf "$qt/licenses/LICENSE.LGPLv3" "$stage/licenses/Qt-LGPL-3.0.txt"
crlf "$qt/licenses/LICENSE.GPL3" "$stage/licenses/Qt-GPL-3.0.txt"
crlf "$qt/licenses/LICENSE.GPL2" "$stage/licenses/Qt-GPL-2.0.txt"
{
    cat "$here/licenses.txt"
    printf '\nThe sources of these Qt DLLs\n----------------------------\n'
    cat "$qt/licenses/SOURCES.txt"
} >"$out/dist/licenses.txt"
crlf "$out/dist/licenses.txt" "$stage/licenses/README.txt"
crlf /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/GCC-runtime.txt"
crlf /usr/share/doc/mingw-w64-common/copyright "$stage/licenses/MinGW-w64-runtime.txt"

# The zip holds the folder itself, so that unzipping gives one folder.
# Fixed times and order keep it the same from one build to the next.
(cd "$out/dist" && find "$name" -exec touch -d '2026-01-01 00:00:00' {} + &&
    find "$name" -type f | LC_ALL=C sort >files.txt &&
    cmake -E tar cf "../$name-win64.zip" --format=zip --mtime='2026-01-01 00:00:00' --files-from=files.txt)

# The installer's lists of files to install and to remove, so that the
# uninstaller deletes what was installed and nothing else.
install_list=$out/dist/install-files.nsh
remove_list=$out/dist/remove-files.nsh
: >"$install_list"
: >"$remove_list"
(cd "$stage" && find . -type d | LC_ALL=C sort) | while read -r dir; do
    dir=${dir#./}
    win=${dir//\//\\}
    [ "$dir" = . ] && win= || win="\\$win"
    printf 'SetOutPath "$INSTDIR%s"\n' "$win" >>"$install_list"
    (cd "$stage/$dir" && find . -maxdepth 1 -type f | LC_ALL=C sort) | while read -r f; do
        f=${f#./}
        printf 'File "%s"\n' "$stage/$dir/$f" >>"$install_list"
        printf 'Delete "$INSTDIR%s\\%s"\n' "$win" "$f" >>"$remove_list"
    done
done
(cd "$stage" && find . -mindepth 1 -type d | LC_ALL=C sort -r) | while read -r dir; do
    dir=${dir#./}
    printf 'RMDir "$INSTDIR\\%s"\n' "${dir//\//\\}" >>"$remove_list"
done
size_kb=$(du -sk "$stage" | cut -f1)

makensis -V2 -NOCD \
    -DVERSION="$version" -DSIZE_KB="$size_kb" -DICON="$here/tavix-gateway-tool.ico" \
    -DINSTALL_LIST="$install_list" -DREMOVE_LIST="$remove_list" \
    -DOUTFILE="$out/$name-setup.exe" "$here/installer.nsi"

echo "dist: $(du -sh "$stage" | cut -f1) in $stage"
ls -l "$out/$name-win64.zip" "$out/$name-setup.exe"
