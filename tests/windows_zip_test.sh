#!/bin/sh
# The Windows archive is what a Windows user downloads: made by CPack from
# the cross build, it unpacks to tandrel.exe, README.txt and LICENSE.txt,
# the texts with CR LF, and the program in it runs from there (under Wine)
# in place and with two names.
#   windows_zip_test.sh CROSS_BUILD_DIR WINE_RUN ARCH PREFIX
# Exits 77 (skipped) when that Wine cannot run on this host.
set -eu
build=$(realpath "$1")
shift
sample=$(realpath "$(dirname "$0")/../examples/winamp.m3u")
"$@" --check 2>/dev/null || exit 77

scratch=$(mktemp -d /tmp/tandrel-zip-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G ZIP -B "$scratch" >/dev/null)
zip=$(ls "$scratch"/tandrel-*-win*.zip)
echo "archive: $(basename "$zip")"
(cd "$scratch" && cmake -E tar xf "$zip")
folder=$scratch/$(basename "$zip" .zip)

found=$(cd "$folder" && ls | tr '\n' ' ')
[ "$found" = "LICENSE.txt README.txt tandrel.exe " ] ||
	{ echo "FAIL: the archive holds $found"; exit 1; }
# Stripped: no symbol table left in the program.
if "${OBJDUMP:-objdump}" -t "$folder/tandrel.exe" 2>/dev/null | grep -q 'main$'; then
	echo "FAIL: tandrel.exe is not stripped"; exit 1
fi
for text in README.txt LICENSE.txt; do
	awk '!/\r$/ { bare = 1 } END { exit bare }' "$folder/$text" ||
		{ echo "FAIL: $text has lines without CR LF"; exit 1; }
done

cd "$scratch"
cp "$sample" list.m3u
"$@" "$folder/tandrel.exe" list.m3u >/dev/null
"$@" "$folder/tandrel.exe" "$sample" out.m3u >/dev/null
expected=$(printf './C:/Music/Jazz/Miles Davis/Kind of Blue/01 So What.mp3\r')
for converted in list.m3u out.m3u; do
	grep -qxF "$expected" "$converted" ||
		{ echo "FAIL: $converted was not converted"; exit 1; }
done
[ ! -e "~tandrel-temp.m3u" ] || { echo "FAIL: the temporary file stayed"; exit 1; }
echo "ok: the archive unpacks and its program converts in place and to another file"
