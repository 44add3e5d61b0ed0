#!/bin/sh
# Writes a large playlist as a Windows player would: CR LF ends, #EXTM3U, an
# #EXTINF line before every entry, back-slashes, drive letters, relative
# and ..\ entries, a few trailing blanks. About 50 bytes a line.
#   make_playlist.sh LINES > big.m3u
set -eu
awk -v lines="$1" 'BEGIN {
	printf "#EXTM3U\r\n"
	for (i = 1; i < lines; i++) {
		if (i % 2 == 1) {
			printf "#EXTINF:%d,Artist Name %d - Song Title %d\r\n", 120 + i % 300, i % 97, i
			continue
		}
		kind = i % 8
		if (kind == 0)
			printf "C:\\Music\\Some Artist\\Album %d\\Track %d.mp3\r\n", i % 113, i
		else if (kind == 2)
			printf "..\\Shared Music\\Compilation\\Disc %d\\%d Song.flac \r\n", i % 31, i
		else if (kind == 4)
			printf "Music\\Artist %d\\Greatest Hits\\%05d Title.ogg\r\n", i % 89, i
		else
			printf "D:\\Rips\\Various Artists\\Summer Hits\\%d.mp3\t\r\n", i
	}
}'
