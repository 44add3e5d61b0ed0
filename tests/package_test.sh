#!/bin/sh
# The Debian package follows Debian's rules and works: it is built from the
# build tree, checked by lintian (no error or warning; the informational
# tags are printed), installed with dpkg, run on the sample playlist, its
# manual found with man -w, and removed again. Installing needs root;
# skipped (77) without it.
#   package_test.sh BUILD_DIR
set -eu
build=$(realpath "$1")
sample=$(realpath ../examples/winamp.m3u)

[ "$(id -u)" -eq 0 ] || { echo "skipped: installing a package needs root"; exit 77; }
command -v lintian >/dev/null || { echo "skipped: lintian is not installed"; exit 77; }
if dpkg-query -W -f='${Status}' tandrel 2>/dev/null | grep -q "install ok installed"; then
	echo "skipped: a tandrel package is installed already; not replacing it"
	exit 77
fi

scratch=$(mktemp -d /tmp/tandrel-package-XXXXXX)
trap 'dpkg -r tandrel >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null)
deb=$(ls "$scratch"/package/tandrel_*.deb)
dpkg-deb --field "$deb" Package Version Maintainer Description Depends

# Informational tags stay, each for its reason (see README.md, Install).
lintian --fail-on error,warning --display-info "$deb" 2>/dev/null ||
	{ echo "FAIL: lintian reports errors or warnings"; exit 1; }

dpkg -i "$deb" >/dev/null
[ "$(command -v tandrel)" = /usr/bin/tandrel ] || { echo "FAIL: tandrel is not /usr/bin/tandrel"; exit 1; }
cp "$sample" "$scratch/list.m3u"
(cd "$scratch" && tandrel list.m3u >/dev/null)
grep -q '^\./C:/Music/Jazz/Miles Davis/Kind of Blue/01 So What\.mp3$' "$scratch/list.m3u" ||
	{ echo "FAIL: the installed tandrel did not convert the sample"; exit 1; }
manual=$(man -w tandrel)
case $manual in
/usr/share/man/man1/tandrel.1.gz) echo "manual: $manual" ;;
*) echo "FAIL: man -w tandrel gave '$manual'"; exit 1 ;;
esac
echo "ok: package passes lintian, installs, converts the sample, and has its manual"
