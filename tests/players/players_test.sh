#!/bin/sh
# Real UNIX players follow every entry of a converted Windows playlist, and
# fail on the same entries before conversion.
#   players_test.sh mpv|vlc|mpd TANDREL
# Builds a music tree of short silent WAV files in a scratch folder: entries
# in sub-folders, a folder with a space, a ..\ entry, a C:\ entry reached
# through a link named C: beside the playlist, a UTF-8 file name. Exits 77
# (skipped) when the player is not installed.
set -eu
player=$1
tandrel=$(realpath "$2")
here=$(dirname "$(realpath "$0")")

case $player in
mpv) command -v mpv >/dev/null || { echo "skipped: mpv is not installed"; exit 77; } ;;
vlc) command -v cvlc >/dev/null || { echo "skipped: cvlc is not installed"; exit 77; } ;;
mpd) command -v mpd >/dev/null && command -v mpc >/dev/null ||
	{ echo "skipped: mpd or mpc is not installed"; exit 77; } ;;
*) echo "usage: players_test.sh mpv|vlc|mpd TANDREL" >&2; exit 2 ;;
esac

root=$(mktemp -d /tmp/tandrel-players-XXXXXX)
server=""
trap '[ -z "$server" ] || kill "$server"; rm -rf "$root"' EXIT
chmod 755 "$root"

# 0.1 s of 8-bit mono silence at 8 kHz.
wav() {
	{
		printf 'RIFF\104\003\000\000WAVEfmt \020\000\000\000\001\000\001\000'
		printf '\100\037\000\000\100\037\000\000\001\000\010\000data\040\003\000\000'
		head -c 800 /dev/zero | tr '\0' '\200'
	} >"$1"
}
mkdir -p "$root/lists/Music/Two Words" "$root/Outside" "$root/drive_c/Music"
wav "$root/lists/Music/One.wav"
wav "$root/lists/Music/Two Words/Two.wav"
wav "$root/Outside/Three.wav"
wav "$root/drive_c/Music/Four.wav"
wav "$root/lists/Music/Café.wav"
ln -s ../drive_c "$root/lists/C:"

# As a Windows player writes it, with a trailing blank on one entry.
printf '#EXTM3U\r\n#EXTINF:1,One\r\nMusic\\One.wav\r\n#EXTINF:1,Two\r\n' >"$root/lists/party.m3u"
printf 'Music\\Two Words\\Two.wav \r\n#EXTINF:1,Three\r\n..\\Outside\\Three.wav\r\n' >>"$root/lists/party.m3u"
printf '#EXTINF:1,Four\r\nC:\\Music\\Four.wav\r\n#EXTINF:1,Caf\303\251\r\n' >>"$root/lists/party.m3u"
printf 'Music\\Caf\303\251.wav\r\n' >>"$root/lists/party.m3u"
cp "$root/lists/party.m3u" "$root/lists/windows.m3u"
chmod -R a+rX "$root"

(cd "$root/lists" && "$tandrel" party.m3u >/dev/null) || {
	echo "FAIL: tandrel party.m3u ended with status $?"
	exit 1
}

# Prints one line per entry: "played NAME" or "failed NAME".
play() {
	mkdir -p "$root/home"
	case $player in
	mpv)
		(cd "$root/lists" && HOME="$root/home" timeout 120 mpv --no-config \
			--ao=null --vo=null --really-quiet \
			--script="$here/mpv_entries.lua" --playlist="$1") |
			sed -e 's/^eof /played /' -e 's/^error /failed /'
		;;
	mpd)
		# MPD resolves what it loads against its database of the music
		# folder, and lists only the entries it found.
		MPD_HOST=$root/mpd.socket mpc -q clear
		MPD_HOST=$root/mpd.socket mpc -q load "lists/$1" >/dev/null
		MPD_HOST=$root/mpd.socket mpc -f 'played %file%' playlist
		;;
	vlc)
		# VLC refuses to run as root.
		chown nobody "$root/home"
		as_user=""
		[ "$(id -u)" -eq 0 ] && as_user="runuser -u nobody --"
		(cd "$root/lists" && $as_user env HOME="$root/home" timeout 120 \
			cvlc -I dummy --no-dbus --no-media-library --play-and-exit \
			--aout dummy --vout dummy --verbose=2 "$1" 2>&1) |
			sed -n -e "s|.*\`file://$root/\(.*\)' successfully opened.*|played \1|p" \
				-e "s|.*VLC is unable to open the MRL '\(file://$root/\)\{0,1\}\(.*\)'.*|failed \2|p" |
			grep -v "^played lists/$1\$"
		;;
	esac
}

failures=0
check() {
	if [ "$2" = "$3" ]; then
		echo "ok: $1"
		echo "$3" | sed 's/^/    /'
	else
		echo "FAIL: $1"
		printf 'expected:\n%s\ngot:\n%s\n' "$2" "$3"
		failures=$((failures + 1))
	fi
}

# A server of the test's own: the scratch tree as its music folder, a UNIX
# socket, no sound.
if [ "$player" = mpd ]; then
	mkdir "$root/playlists"
	cat >"$root/mpd.conf" <<EOF
music_directory "$root"
playlist_directory "$root/playlists"
db_file "$root/mpd.db"
log_file "$root/mpd.log"
pid_file "$root/mpd.pid"
state_file "$root/mpd.state"
bind_to_address "$root/mpd.socket"
audio_output {
	type "null"
	name "null"
}
EOF
	mpd --no-daemon "$root/mpd.conf" >/dev/null 2>&1 &
	server=$!
	for wait in $(seq 1 100); do [ -S "$root/mpd.socket" ] && break; sleep 0.1; done
	MPD_HOST=$root/mpd.socket mpc -q update --wait ||
		{ echo "FAIL: MPD did not start"; exit 1; }
fi

if [ "$player" = mpv ]; then
	converted="played ./Music/One.wav
played ./Music/Two Words/Two.wav
played ../Outside/Three.wav
played ./C:/Music/Four.wav
played ./Music/Café.wav"
	unconverted="failed Music\\One.wav
failed Music\\Two Words\\Two.wav
failed ..\\Outside\\Three.wav
failed C:\\Music\\Four.wav
failed Music\\Café.wav"
elif [ "$player" = mpd ]; then
	converted="played lists/Music/One.wav
played lists/Music/Two Words/Two.wav
played Outside/Three.wav
played lists/C:/Music/Four.wav
played lists/Music/Café.wav"
	unconverted=""
else
	converted="played lists/Music/One.wav
played lists/Music/Two%20Words/Two.wav
played Outside/Three.wav
played lists/C:/Music/Four.wav
played lists/Music/Caf%C3%A9.wav"
	unconverted="failed lists/Music%5COne.wav
failed lists/Music%5CTwo%20Words%5CTwo.wav%20
failed lists/..%5COutside%5CThree.wav
failed C:%5CMusic%5CFour.wav
failed lists/Music%5CCaf%C3%A9.wav"
fi

got=$(play party.m3u)
check "$player plays every converted entry once" "$converted" "$got"
got=$(play windows.m3u | sed 's/ *$//')
check "$player fails every entry of the Windows playlist" "$(echo "$unconverted" | sed 's/ *$//')" "$got"

[ $failures -eq 0 ]
