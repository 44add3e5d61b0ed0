#!/bin/sh
# In-place runs where music lives: on a FAT or exFAT drive mounted through
# FUSE, as USB sticks often are (neither hard links nor a rename that never
# replaces, times of whole seconds, names of any case), or on a folder of
# this machine's own (native); through a second view of the drive by bindfs
# too. Then a batch of playlists in one folder through xargs -P8, half of
# them through the second view.
#   drives_test.sh PROGRAM vfat|exfat|native
# Exits 77 where FUSE or the drive's tools cannot be used here.
set -u
program=$1
kind=$2
scratch=$(mktemp -d /tmp/tandrel-drives-XXXXXX)
mnt=$scratch/mnt
view=$scratch/view
loop=""
failures=0

# A drive still busy (a run the test killed, not yet gone) is let go once
# it is not, rather than left mounted.
unmount() { fusermount -u "$1" 2>/dev/null || fusermount -uz "$1" 2>/dev/null; }
cleanup() {
	cd /
	unmount "$view"
	[ "$kind" = native ] || unmount "$mnt"
	[ -n "$loop" ] && losetup -d "$loop"
	rm -rf "$scratch"
}
trap cleanup EXIT
skip() { echo "skipped: $*"; exit 77; }

mkdir "$mnt" "$view"
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
command -v bindfs >/dev/null && bindfs "$mnt" "$view" 2>/dev/null || skip "no bindfs, or it cannot mount here"

sample=$(dirname "$0")/../examples/winamp.m3u
"$program" "$sample" "$scratch/converted.m3u" >/dev/null || exit 1
# Converting a converted playlist again adds an empty line.
{ cat "$scratch/converted.m3u"; echo; } >"$scratch/twice.m3u"
# The sample written over at its first byte, at its size.
{ printf 'X'; tail -c +2 "$sample"; } >"$scratch/edited.m3u"

# expect WHY STATUS EXPECTED NAMES COMMAND...: runs COMMAND in "$mnt/Music"
# and checks its status, Music/$playlist against EXPECTED and the names in
# Music and in the drive's top folder (a run's hidden name as N).
playlist=list.m3u
expect() {
	why=$1 status=$2 content=$3 names=$4
	shift 4
	(cd "$mnt/Music" && "$@" >/dev/null 2>&1) 2>/dev/null
	got=$?
	found=$(cd "$mnt" && ls -A . Music | sed 's/^\.~tandrel-new-.*\.m3u$/.~tandrel-new-N.m3u/' | tr '\n' ' ')
	if [ "$got" -ne "$status" ] || ! cmp -s "$mnt/Music/$playlist" "$content" ||
	   [ "$found" != "$names" ]; then
		echo "FAILED $kind, $why: status $got, files: $found"
		failures=$((failures + 1))
	fi
}

start() {
	rm -rf "$mnt/Music" && mkdir "$mnt/Music" && cp "$sample" "$mnt/Music/${1:-list.m3u}"
	playlist=${1:-list.m3u}
}
only=".: Music  Music: list.m3u "

# Runs in place on list.m3u and writes its first byte over while the run is
# held in its sync, however long a busy machine takes to get there; not
# before 0.7 s, as fusefat may still be storing the run's writes.
write_while_synced() {
	strace -f -qq -o "$scratch/calls" -e trace=fsync -e inject=fsync:delay_enter=1500000 \
		"$program" list.m3u &
	sleep 0.7
	for _ in $(seq 1 100); do
		grep -q 'fsync(' "$scratch/calls" && break
		sleep 0.1
	done
	printf 'X' | dd of=list.m3u conv=notrunc 2>/dev/null
	wait $!
}

start; expect "in the playlist's folder" 0 "$scratch/converted.m3u" "$only" "$program" list.m3u
expect "a second run" 0 "$scratch/twice.m3u" "$only" "$program" list.m3u
start; expect "from the folder above" 0 "$scratch/converted.m3u" "$only" sh -c "cd .. && '$program' Music/list.m3u"
start "A long playlist name.m3u"
expect "a long name" 0 "$scratch/converted.m3u" ".: Music  Music: A long playlist name.m3u " \
	"$program" "A long playlist name.m3u"
# The name typed in another case is the playlist's own on FAT and exFAT,
# and keeps the case the folder lists.
if [ "$kind" != native ]; then
	start "Party Mix.M3U"
	expect "the name typed in another case" 0 "$scratch/converted.m3u" ".: Music  Music: Party Mix.M3U " \
		"$program" "party mix.m3u"
fi
# Another user, on a drive root mounted for all, which shows every file as
# root's: nothing of the original's access is lost, so the run goes on.
if [ "$kind" = exfat ] && [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
	cp "$program" "$scratch/tandrel" && chmod 755 "$scratch"
	start; expect "run by another user" 0 "$scratch/converted.m3u" "$only" \
		setpriv --reuid=65534 --regid=65534 --clear-groups "$scratch/tandrel" list.m3u
fi
# Input and output the same file, seen through two views: converted, not
# emptied.
start; expect "the same file through another view" 0 "$scratch/converted.m3u" "$only" \
	"$program" "$mnt/Music/list.m3u" "$view/Music/list.m3u"
# Hidden files that killed runs left, whatever their names, go.
start; : >"$mnt/Music/.~tandrel-new-3.m3u"; : >"$mnt/Music/.~tandrel-new-4999999-9.m3u"
expect "leftovers of other names" 0 "$scratch/converted.m3u" "$only" "$program" list.m3u
if command -v strace >/dev/null; then
	start; expect "interrupted while writing" 130 "$sample" "$only" \
		strace -f -qq -o /dev/null -e inject=fsync:signal=SIGINT "$program" list.m3u
	# Where the system has anonymous files, a kill leaves none.
	left=".: Music  Music: .~tandrel-new-N.m3u list.m3u "
	[ "$kind" = native ] && left=$only
	start; expect "killed while writing" 137 "$sample" "$left" \
		strace -f -qq -o /dev/null -e inject=fsync:signal=SIGKILL "$program" list.m3u
	expect "a run after the kill" 0 "$scratch/converted.m3u" "$only" "$program" list.m3u
	# Written over at its size while the run waits to sync: the times of
	# whole seconds cannot show it, its bytes do.
	start; expect "written over while read" 1 "$scratch/edited.m3u" "$only" write_while_synced
fi

# Fifty playlists in a folder grown first: fusefat, growing a folder while
# files are written at once, can hand the folder a cluster a file holds (cp
# and rm alone show it), and that file's bytes become the folder's entries.
start_batch() {
	start
	for i in $(seq 1 200); do : >"$mnt/Music/.room-for-the-batch-$i.m3u"; done
	rm -f "$mnt/Music"/.room-for-the-batch-*
	for i in $(seq 1 50); do cp "$sample" "$mnt/Music/$i.m3u"; done
}

# A batch from one folder: runs take turns with their moves, and all go
# through.
start_batch
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
# Then half of one from each of two views of the folder, whose locks FUSE
# does not share: a run may be refused there, but each playlist is
# converted or as it was, as its run said, and nothing else is left.
start_batch
for half in "$mnt 2" "$view 1"; do
	set -- $half
	(cd "$1/Music" && seq "$2" 2 50 | sed 's/$/.m3u/' |
		xargs -n1 -P4 sh -c '"$0" "$1" >/dev/null || echo "$1"' "$program" >"$scratch/refused.$2") &
done
wait
lost=0
for i in $(seq 1 50); do
	expected=$scratch/converted.m3u
	grep -qx "$i.m3u" "$scratch/refused.1" "$scratch/refused.2" && expected=$sample
	cmp -s "$mnt/Music/$i.m3u" "$expected" || lost=$((lost + 1))
done
left=$(ls -A "$mnt/Music" | grep -v -c '^[0-9]*\.m3u$\|^list\.m3u$')
if [ "$lost" -ne 0 ] || [ "$left" -ne 0 ]; then
	echo "FAILED $kind, a batch through two views: $lost not as their runs said, $left other files"
	failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "$kind: every run as expected"
[ "$failures" -eq 0 ]
