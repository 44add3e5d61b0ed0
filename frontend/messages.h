// Every text tandrel prints, in one place. All of it goes to standard output,
// each text followed by one line feed but the progress line, whose format
// ends the line itself. The tests take their texts from here.
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
constexpr const char kTooManyNames[] =
	"Three or more names: tandrel converts one playlist a run, in place or to "
	"one output. Nothing was changed.";

constexpr const char kProgressFormat[] = "Processing \"%s\" to \"%s\"...\n";

constexpr const char kUnableInput[] = "Unable to open input file.";
constexpr const char kUnableOutput[] = "Unable to open output file.";
constexpr const char kUnableRead[] = "Unable to read input file.";
constexpr const char kUnableWrite[] = "Unable to write output file.";

// The line after a failure to open: which file, and why.
constexpr const char kReasonFormat[] = "\"%s\": %s.";
constexpr const char kNoSuchFile[] = "no such file";
constexpr const char kNoSuchFolder[] = "no such folder";
constexpr const char kIsFolder[] = "a folder, not a playlist";
constexpr const char kNotRegular[] = "not a regular file";
constexpr const char kNoPermissionRead[] = "no permission to read it";
constexpr const char kNoPermissionWrite[] = "no permission to write it";
constexpr const char kNameTooLong[] = "the name is too long";
constexpr const char kTooManyLinks[] = "too many links in a row";
constexpr const char kMovedWhileOpened[] = "moved or replaced while it was opened";
constexpr const char kMaybeAsTemp[] =
	"no such file. It may be \"" TANDREL_TEMP_NAME "\" here, left by an "
	"interrupted run: look at it and give it back its name";

constexpr const char kInputUtf16[] =
	"The input file is UTF-16; save it as UTF-8 or ANSI first.";
constexpr const char kInputUtf32[] =
	"The input file is UTF-32; save it as UTF-8 or ANSI first.";
constexpr const char kInputEndMarked[] =
	"The input file has text after a byte 0x1A (Ctrl-Z), where Windows ends "
	"a text; remove that byte first. Nothing was changed.";
constexpr const char kSameFile[] = "Input and output are the same file.";
constexpr const char kUntrustedFormat[] =
	"\"%s\" is reached through a link that neither you, root nor the owner "
	"of what it points to made; it is not followed.";
constexpr const char kHeldByAnother[] =
	"Another program has the playlist open and lets nobody move it; close "
	"it and try again. Nothing was changed.";

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
constexpr const char kReadOnlyOutputFolder[] =
	" The new playlist is made in the output's folder, which you may not "
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
	": the file system cannot rename it without replacing, and this folder "
	"cannot be locked against other runs. Convert it to a new file and move "
	"that: tandrel list.m3u new.m3u && mv new.m3u list.m3u";
constexpr const char kCannotLower[] =
	": here users who may not read it now could, and its bits cannot be "
	"lowered to its owner's and then given back whole (another's playlist, a "
	"set-group-ID bit of a group not yours, or other hard links). Run "
	"tandrel from the playlist's folder.";
constexpr const char kNoReason[] = ".";
// Follows a failure line, once the temporary name is known to be the
// original.
constexpr const char kKeptAsTemp[] =
	" The original playlist is now \"" TANDREL_TEMP_NAME "\".";
// Likewise, where its bits were lowered there: its bits of before.
constexpr const char kKeptAsTempLoweredFormat[] =
	" The original playlist is now \"" TANDREL_TEMP_NAME "\", readable by "
	"its owner alone; its permission bits were %04lo.";
constexpr const char kTempLeft[] =
	"Unable to remove \"" TANDREL_TEMP_NAME "\", which still holds "
	"the original playlist.";
constexpr const char kTempUnchecked[] =
	"Unable to look at \"" TANDREL_TEMP_NAME "\", which may still hold "
	"the original playlist.";
constexpr const char kSetIdDropped[] =
	"The playlist's set-user-ID or set-group-ID bit could not be kept.";

// Two-file runs.
// The failure line of a two-file run whose input failed after it began to
// write, then the output's name.
constexpr const char kIncompleteFormat[] = "%s \"%s\" is incomplete.";
constexpr const char kOutputChanged[] =
	"The output was moved, removed or replaced while the new playlist was "
	"written; it is left as it is now.";
constexpr const char kOutputBusyHere[] =
	"Another run is naming a playlist in the output's folder; try again "
	"when it has finished.";

#endif
