// Every text tandrel prints, in one place. All of it goes to standard output,
// each text followed by one line feed but the progress line, whose format
// ends the line itself.
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
constexpr const char kTempExists[] =
	"A file named \"" TANDREL_TEMP_NAME "\" is in the way here. It may be "
	"a playlist left by an interrupted run: look at it, give it back its "
	"name or move it away, then try again.";
constexpr const char kBusy[] =
	"Another run is converting this playlist; try again when it has finished.";
constexpr const char kInputUtf16[] =
	"The input file is UTF-16; save it as UTF-8 or ANSI first.";
constexpr const char kSameFile[] = "Input and output are the same file.";
// Follows a failure line when the original could not be put back.
constexpr const char kKeptAsTemp[] =
	" The original playlist is now \"" TANDREL_TEMP_NAME "\".";
constexpr const char kTempLeft[] =
	"Unable to remove \"" TANDREL_TEMP_NAME "\", which still holds "
	"the original playlist.";

#endif
