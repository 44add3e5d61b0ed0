// Every text tandrel prints, in one place. All of it goes to standard output,
// each text followed by one line feed but the progress line and the note on
// an incomplete output, whose formats end the line themselves.
#ifndef TANDREL_FRONTEND_MESSAGES_H
#define TANDREL_FRONTEND_MESSAGES_H

#define TANDREL_TEMP_NAME "~tandrel-temp.m3u"

constexpr const char kTempName[] = TANDREL_TEMP_NAME;

constexpr const char kBanner[] =
	"\n"
	"Tandrel 1.0, Windows playlists for UNIX players\n"
	"Fix M3U files written by Winamp to make them readable under UNIX (e.g. by XMMS).\n";

constexpr const char kNotice[] =
	"Copyright (c) 2026 the tandrel developers.\n"
	"tandrel is free software under the MIT licence: you may use, copy,\n"
	"modify, merge, publish, distribute, sublicense and sell copies of it,\n"
	"provided the copyright and permission notice go with every copy.\n"
	"It comes WITHOUT ANY WARRANTY. The licence text is in the file LICENSE\n"
	"and at https://opensource.org/licenses/MIT\n";

constexpr const char kUsage[] = "USAGE: tandrel infile.m3u [outfile.m3u]";

constexpr const char kProgressFormat[] = "Processing \"%s\" to \"%s\"...\n";

constexpr const char kUnableInput[] = "Unable to open input file.";
constexpr const char kUnableOutput[] = "Unable to open output file.";
constexpr const char kUnableRead[] = "Unable to read input file.";
constexpr const char kUnableWrite[] = "Unable to write output file.";
// The failure line of a two-file run that failed after it began to write,
// then the output's name.
constexpr const char kIncompleteFormat[] = "%s \"%s\" is incomplete.\n";
constexpr const char kInputUtf16[] =
	"The input file is UTF-16; save it as UTF-8 or ANSI first.";
constexpr const char kInputUtf32[] =
	"The input file is UTF-32; save it as UTF-8 or ANSI first.";
constexpr const char kSameFile[] = "Input and output are the same file.";

// In-place runs.
constexpr const char kBusy[] =
	"Another run is converting this playlist; try again when it has finished.";
constexpr const char kBusyHere[] =
	"Another run is converting a playlist in this folder; try again when it "
	"has finished.";
constexpr const char kTempExists[] =
	"A file named \"" TANDREL_TEMP_NAME "\" is in the way here. It may be "
	"a playlist left by an interrupted run: look at it, give it back its "
	"name or move it away, then try again.";
constexpr const char kMaybeAsTemp[] =
	"Unable to open input file. The playlist may be \"" TANDREL_TEMP_NAME
	"\" here, left by an interrupted run: look at it and give it back its "
	"name.";
constexpr const char kUntrustedLink[] =
	"The playlist is a link that neither you nor the owner of its file "
	"made; it is not followed.";
constexpr const char kPlaylistChanged[] =
	"The playlist was moved, removed or replaced while it was read; it is "
	"left as it is now.";
constexpr const char kPlaylistWritten[] =
	"The playlist was written to while it was read; it is left as it is "
	"now. Run tandrel again once nothing else writes it.";
constexpr const char kStrandedHere[] =
	"The playlist is another user's, and this folder (sticky, as /tmp is) "
	"would let you neither move it back from here nor remove it. Run "
	"tandrel from the playlist's folder.";
constexpr const char kReadOnlyFolder[] =
	" The new playlist is made in the playlist's folder, which you may not "
	"write.";
constexpr const char kUnableMove[] =
	"Unable to move the playlist to \"" TANDREL_TEMP_NAME "\" here";
// What follows kUnableMove: why.
constexpr const char kOtherFileSystem[] =
	": this folder is on another file system. Run tandrel from the "
	"playlist's folder.";
constexpr const char kNoPermission[] =
	": no permission to write in this folder or to move the playlist.";
constexpr const char kCannotRename[] =
	": the file system cannot rename it without replacing. Convert it to a "
	"new file and move that: tandrel list.m3u new.m3u && mv new.m3u list.m3u";
constexpr const char kWouldExpose[] =
	": users who may not read it now could read it here, and you may not "
	"change its permission bits. Run tandrel from the playlist's folder.";
constexpr const char kNoReason[] = ".";
// Follows a failure line, once the temporary name is known to be the
// original.
constexpr const char kKeptAsTemp[] =
	" The original playlist is now \"" TANDREL_TEMP_NAME "\".";
constexpr const char kTempLeft[] =
	"Unable to remove \"" TANDREL_TEMP_NAME "\", which still holds "
	"the original playlist.";
constexpr const char kTempUnchecked[] =
	"Unable to look at \"" TANDREL_TEMP_NAME "\", which may still hold "
	"the original playlist.";
constexpr const char kSetIdDropped[] =
	"The playlist's set-user-ID or set-group-ID bit could not be kept.";

#endif
