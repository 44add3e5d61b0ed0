#!/bin/sh
# In-place runs where music lives: on a FAT or exFAT drive mounted through
# FUSE, as USB sticks often are (neither hard links nor a rename that never
# replaces), or on a folder of this machine's own (native). Then a batch of
# playlists in one folder through xargs -P8.
#   drives_test.sh PROGRAM vfat|exfat|native
# Exits 77 where FUSE or the drive's tools cannot be used here.
set -u
program=$1
kind=$2
scratch=$(mktemp -d /tmp/tandrel-drives-XXXXXX)
mnt=$scratch/mnt
loop=""
failures=0

cleanup() {
	cd /
	[ "$kind" = native ] || fusermount -u "$mnt" 2>/dev/null
	[ -n "$loop" ] && losetup -d "$loop"
	rm -rf "$scratch"
}
trap cleanup EXIT
skip() { echo "skipped: $*"; exit 77; }

mkdir "$mnt"
case $kind in
vfat)
	command -v fusefat >/dev/null && command -v mkfs.vfat >/dev/null || skip "no fusefat or mkfs.vfat"
	truncate -s 32M "$scratch/image" && mkfs.vfat "$scratch/image" >/dev/null &&
		fusefat -o rw+ "$scratch/image" "$mnt" >/dev/null 2>&1 || skip "cannot mount FAT through FUSE here"
	;;
exfat)
	command -v mount.exfat-fuse >/dev/null && command -v mkfs.exfat >/dev/null || skip "no exfat-fuse or mkfs.exfat"
	truncate -s 32M "$scratch/image" && mkfs.exfat "$scratch/image" >/dev/null &&
		loop=$(losetup -f --show "$scratch/image" 2>/dev/null) &&
		mount.exfat-fuse "$loop" "$mnt" >/dev/null 2>&1 || skip "cannot mount exFAT through FUSE here"
	;;
esac

sample=$(dirname "$0")/../examples/winamp.m3u
"$program" "$sample" "$scratch/converted.m3u" >/dev/null || exit 1
# Converting a converted playlist again adds an empty line.
{ cat "$scratch/converted.m3u"; echo; } >"$scratch/twice.m3u"

# check WHY STATUS EXPECTED FILES... : runs the command after it, in
# "$mnt/Music" or wherever it cd's, and checks its status, Music/list.m3u
# against EXPECTED and the names in Music and in the drive's top folder.
expect() {
	why=$1 status=$2 content=$3 names=$4
	shift 4
	(cd "$mnt/Music" && "$@" >/dev/null 2>&1) 2>/dev/null
	got=$?
	found=$(cd "$mnt" && ls -A . Music | tr '\n' ' ')
	if [ "$got" -ne "$status" ] || ! cmp -s "$mnt/Music/list.m3u" "$content" ||
	   [ "$found" != "$names" ]; then
		echo "FAILED $kind, $why: status $got, files: $found"
		failures=$((failures + 1))
	fi
}

start() { rm -rf "$mnt/Music" && mkdir "$mnt/Music" && cp "$sample" "$mnt/Music/list.m3u"; }
only=".: Music  Music: list.m3u "

start; expect "in the playlist's folder" 0 "$scratch/converted.m3u" "$only" "$program" list.m3u
expect "a second run" 0 "$scratch/twice.m3u" "$only" "$program" list.m3u
start; expect "from the folder above" 0 "$scratch/converted.m3u" "$only" sh -c "cd .. && '$program' Music/list.m3u"
if command -v strace >/dev/null; then
	start; expect "interrupted while writing" 130 "$sample" "$only" \
		strace -f -qq -o /dev/null -e inject=fsync:signal=SIGINT "$program" list.m3u
	# Where the system has anonymous files, a kill leaves none.
	left=".: Music  Music: .~tandrel-new-0.m3u list.m3u "
	[ "$kind" = native ] && left=$only
	start; expect "killed while writing" 137 "$sample" "$left" \
		strace -f -qq -o /dev/null -e inject=fsync:signal=SIGKILL "$program" list.m3u
	expect "a run after the kill" 0 "$scratch/converted.m3u" "$only" "$program" list.m3u
fi

# A batch from one folder: runs take turns with their moves, and all go
# through.
start
for i in $(seq 1 50); do cp "$sample" "$mnt/Music/$i.m3u"; done
(cd "$mnt/Music" && printf '%s\0' [0-9]*.m3u | xargs -0 -n1 -P8 "$program" >/dev/null)
batch=$?
for i in $(seq 1 50); do
	cmp -s "$mnt/Music/$i.m3u" "$scratch/converted.m3u" || batch=1
done
left=$(ls -A "$mnt/Music" | grep -v -c '^[0-9]*\.m3u$\|^list\.m3u$')
if [ "$batch" -ne 0 ] || [ "$left" -ne 0 ]; then
	echo "FAILED $kind, a batch of 50 through xargs -P8: status $batch, $left other files"
	failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "$kind: every run as expected"
[ "$failures" -eq 0 ]
