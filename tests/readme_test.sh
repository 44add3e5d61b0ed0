#!/bin/sh
# The README's "Before and after" is what the shipped sample is, and what
# the program makes of it, byte for byte as the README renders bytes: the
# CR of each CR LF left out, bytes above 0x7F as \xNN, a trailing blank as
# a middle dot and a trailing tab as an arrow. Then its recipes, run as the
# README gives them on a small library: a link, a .M3U and a .m3u8, a
# read-only folder and a UTF-16 playlist, which fail, and an ANSI playlist
# behind a link with bits of its own.
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
		marked && /^```/ { if (inside) exit; inside = 1; next }
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

# The library, owned by nobody where root runs the test: a read-only folder
# stops nobody, not root.
home=$scratch/home
library() {
	rm -rf "$home" && mkdir -p "$home/Music/a" "$home/Music/B" "$home/Music/ro" "$home/Music/wide"
	cp examples/winamp.m3u "$home/Music/a/One.m3u"
	cp examples/winamp.m3u "$home/Music/B/Two.M3U"
	cp examples/winamp.m3u "$home/Music/B/Three.m3u8"
	cp examples/winamp.m3u "$home/Music/ro/Four.m3u"
	printf '#\0E\0\r\0\n\0' >"$home/Music/wide/Five.m3u"
	ln -s a/One.m3u "$home/Music/link.m3u"
	[ "$(id -u)" -ne 0 ] || chown -R nobody "$home"
	chmod -R a+rX "$scratch" && chmod 555 "$home/Music/ro"
}
# A copy, which nobody can reach where the build tree is closed to others.
mkdir "$scratch/bin" && cp "$tandrel" "$scratch/bin/tandrel"
as_user() {
	if [ "$(id -u)" -eq 0 ]; then
		setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" PATH="$scratch/bin:$PATH" sh -c "$1"
	else
		env HOME="$home" PATH="$scratch/bin:$PATH" sh -c "$1"
	fi
}
# recipe NAME STATUS: runs the recipe, which must end with STATUS, name the
# two failures, convert the rest once and leave the link a link.
recipe() {
	library
	got=0
	# The recipes share the README's first line, which names the program.
	as_user "t=tandrel; $(block "$1 recipe")" >"$scratch/said" 2>&1 || got=$?
	failed=$(sort "$scratch/said" | tr '\n' ' ')
	expected="failed: $home/Music/ro/Four.m3u failed: $home/Music/wide/Five.m3u "
	for p in a/One.m3u B/Two.M3U B/Three.m3u8; do
		cmp -s "$home/Music/$p" "$scratch/unix.m3u" || failed="$failed, $p not converted once"
	done
	[ -L "$home/Music/link.m3u" ] || failed="$failed, the link replaced"
	if [ "$got" -ne "$2" ] || [ "$failed" != "$expected" ]; then
		echo "FAIL: the $1 recipe ended $got and said: $failed"
		status=1
	else
		echo "the README's $1 recipe converts a library, names each failure and ends $got"
	fi
}
recipe library 1
recipe parallel 123

# An ANSI playlist behind a link, with its own bits, and a UTF-8 one: the
# first is re-encoded and keeps both, the second stays as it is.
library
encoding=$(block "encoding recipe")
printf 'Caf\303\251.mp3\r\n' >"$scratch/utf8"
(cd "$home/Music/a" && printf 'Caf\351.mp3\r\n' >ansi && cp "$scratch/utf8" utf8.m3u && rm One.m3u &&
	ln -s ansi ansi.m3u && { [ "$(id -u)" -ne 0 ] || chown -h nobody ansi ansi.m3u utf8.m3u; } &&
	chmod 640 ansi && as_user "cd '$PWD' && $encoding")
a=$home/Music/a
if [ ! -L "$a/ansi.m3u" ] || [ "$(stat -c %a "$a/ansi")" != 640 ] || ! cmp -s "$a/ansi" "$scratch/utf8" ||
   ! cmp -s "$a/utf8.m3u" "$scratch/utf8"; then
	echo "FAIL: the encoding recipe left: $(ls -l "$a" | tr '\n' ' ')"
	status=1
else
	echo "the README's encoding recipe re-encodes through the link, keeps the bits, and leaves UTF-8 alone"
fi
exit $status
