#!/bin/sh
# The README's "Before and after" is what the shipped sample is, and what
# the program makes of it, byte for byte as the README renders bytes: the
# CR of each CR LF left out, bytes above 0x7F as \xNN, a trailing blank as
# a middle dot and a trailing tab as an arrow.
#   readme_test.sh TANDREL
# To refresh the README after a change: readme_test.sh TANDREL --print
set -eu
tandrel=$(realpath "$1")
cd "$(dirname "$0")/.."
scratch=$(mktemp -d /tmp/tandrel-readme-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

render() {
	perl -pe 's/\r$//; s/([\x80-\xff])/sprintf("\\x%02X", ord($1))/ge;
		s/([ \t]+)$/$1 =~ tr| \t|\x{b7}\x{2192}|r/e; binmode STDOUT, ":utf8"' "$1"
}

# The code block after the mark "<!-- NAME -->" in README.md.
block() {
	awk -v mark="<!-- $1 -->" '$0 == mark { marked = 1; next }
		marked && /^```$/ { if (inside) exit; inside = 1; next }
		inside { print }' README.md
}

"$tandrel" examples/winamp.m3u "$scratch/unix.m3u" >/dev/null
render examples/winamp.m3u >"$scratch/before"
render "$scratch/unix.m3u" >"$scratch/after"
if [ "${2-}" = --print ]; then
	cat "$scratch/before"
	echo ---
	cat "$scratch/after"
	exit 0
fi
status=0
for side in before after; do
	block "sample $side" >"$scratch/readme-$side"
	diff -u "$scratch/readme-$side" "$scratch/$side" || status=1
done
[ $status -eq 0 ] && echo "README shows the sample as it is and as tandrel converts it"
exit $status
