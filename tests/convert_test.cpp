#include "playlist/convert.h"

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "tests/stream_util.h"

namespace {

using std::string;

struct ConvertCase {
	string name;
	string input;
	string output;
	ConvertResult result;
	bool end_mark = false;	// a 0x1A ends the input, as on Windows
};

const string kMark = "\xEF\xBB\xBF";
const string kLongA = Repeat("a", kLineCapacity - 2);	// one short of the bound
// White space that outgrows the store and spills to the scratch file.
const string kSpilled = Repeat(" \t", kHoldSize + kLineSize);

// Text, then white space that fills whole pieces of the line so that
// exactly one byte more than the store holds waits, in the scratch file.
string OneHeldPastTheStore()
{
	const size_t piece = kLineCapacity - 1;
	const size_t length = ((kHoldSize + 1) / piece + 1) * piece;	// past the store
	return Repeat("y", length - kHoldSize - 1) + Repeat(" ", kHoldSize + 1);
}
const string kOneHeldPastTheStore = OneHeldPastTheStore();

std::vector<ConvertCase> ConvertCases()
{
	return {
		{"empty input gives one empty line", "", "\n", kConverted},
		{"windows playlist",
		 "#EXTM3U\r\n#EXTINF:215,A - B\r\nMusic\\Song.mp3 \r\n\r\n..\\x.mp3",
		 "#EXTM3U\n#EXTINF:215,A - B\n./Music/Song.mp3\n\n../x.mp3\n",
		 kConverted},
		{"final line feed gives a last empty line", "a\nb\n", "./a\n./b\n\n", kConverted},
		{"text ends at a zero byte", string("ab \0x\\y\nc", 9), "./ab \n./c\n", kConverted},
		{"utf-8 mark before the header", kMark + "#EXTM3U\r\nx\\y",
		 kMark + "#EXTM3U\n./x/y\n", kConverted},
		{"utf-8 mark before an entry", kMark + "Music\\a.mp3", kMark + "./Music/a.mp3\n", kConverted},
		{"utf-8 mark alone", kMark + " \r\n", kMark + "\n\n", kConverted},
		{"utf-8 mark elsewhere is data", "#a\n" + kMark + "#b", "#a\n./" + kMark + "#b\n", kConverted},
		{"part of a mark is data", "\xEF\xBB#x", "./\xEF\xBB#x\n", kConverted},
		{"utf-16 little-endian refused", string("\xFF\xFE#\0\n\0", 6), "",
		 kInputIsUtf16},
		{"utf-16 big-endian refused", "\xFE\xFF", "", kInputIsUtf16},
		{"utf-16 little-endian without its mark refused", string("#\0\r\0\n\0", 6), "",
		 kInputIsUtf16},
		{"utf-16 big-endian without its mark refused", string("\0#\0E\0\r\0\n", 8), "",
		 kInputIsUtf16},
		{"every other byte zero, too short for utf-16", string("a\0b", 3), "./a\n", kConverted},
		{"utf-16 of two characters", string("a\0b\0", 4), "", kInputIsUtf16},
		{"utf-16 with an empty first line", string("\r\0\n\0#\0E\0\r\0\n\0M\0\\\0", 16), "",
		 kInputIsUtf16},
		{"utf-16 big-endian, one-character first line", string("\0A\0\r\0\n\0B\0\\\0c", 12), "",
		 kInputIsUtf16},
		{"utf-32 little-endian refused", string("\xFF\xFE\0\0#\0\0\0", 8), "", kInputIsUtf32},
		{"utf-32 big-endian refused", string("\0\0\xFE\xFF\0\0\0#", 8), "", kInputIsUtf32},
		{"utf-32 without its mark refused", string("\r\0\0\0\n\0\0\0a\0\0\0", 12), "",
		 kInputIsUtf32},
		{"utf-32 of one character refused", string("a\0\0\0", 4), "", kInputIsUtf32},
		{"utf-32 with its mark, astral characters alone",
		 string("\xFF\xFE\0\0", 4) + Repeat("\x01\xF6\x01" + string(1, 0), 3), "", kInputIsUtf32},
		{"utf-32 big-endian of one character refused", string("\0\0\0a", 4), "", kInputIsUtf32},
		{"zero bytes past the first bytes are data", Repeat("x\\", 150) + string("\0\0\0\0\0\0", 6),
		 "./" + Repeat("x/", 150) + "\n", kConverted},
		{"zero byte first is an empty line", string("\0abc", 4), "\n", kConverted},
		{"0xFF alone is data", "\xFF\xFF", "./\xFF\xFF\n", kConverted},
		{"long entry is one line, prefixed once",
		 Repeat("ab\\", 3000) + "\r\nnext",
		 "./" + Repeat("ab/", 3000) + "\n./next\n", kConverted},
		{"long comment unchanged", "#" + Repeat("c\\", 5000) + " \n",
		 "#" + Repeat("c\\", 5000) + "\n\n", kConverted},
		{"long line starting with a dot", ".\\" + Repeat("d", 5000),
		 "./" + Repeat("d", 5000) + "\n", kConverted},
		{"white space across the cut is kept inside the line",
		 kLongA + Repeat(" ", 10) + "b\r\n",
		 "./" + kLongA + Repeat(" ", 10) + "b\n\n", kConverted},
		{"trailing white space across the cut is trimmed",
		 kLongA + Repeat(" \t", 3000) + "\r\nz",
		 "./" + kLongA + "\n./z\n", kConverted},
		{"trailing white space over two cuts is trimmed",
		 "x" + Repeat(" ", 9000) + "\r\n", "./x\n\n", kConverted},
		{"white space over two cuts inside a line is kept",
		 "y" + Repeat("\t", 9000) + "z", "./y" + Repeat("\t", 9000) + "z\n",
		 kConverted},
		{"long white space only is an empty line",
		 Repeat(" ", 9000) + "\r\n#x", "\n#x\n", kConverted},
		{"long white space then text is an entry", Repeat(" ", 9000) + "x",
		 "./" + Repeat(" ", 9000) + "x\n", kConverted},
		{"long white space then a comment sign is an entry",
		 Repeat("\t", 5000) + "#x", "./" + Repeat("\t", 5000) + "#x\n",
		 kConverted},
		{"zero byte in a long line ends its text",
		 string("a\\\0", 3) + Repeat("b", 5000) + "\nc",
		 "./a/\n./c\n", kConverted},
		{"zero byte at the start of a long line",
		 string("\0", 1) + Repeat("b", 5000) + "\nc", "\n./c\n", kConverted},
		{"white space before a zero byte past the cut stays",
		 kLongA + "   " + string("\0zz", 3), "./" + kLongA + "   \n",
		 kConverted},
		{"zero byte right after the cut keeps held white space",
		 kLongA + " " + string("\0", 1) + Repeat("q", 5000),
		 "./" + kLongA + " \n", kConverted},
		{"utf-8 mark before a long entry", kMark + Repeat("e\\", 3000),
		 kMark + "./" + Repeat("e/", 3000) + "\n", kConverted},
		{"trailing white space past the store is trimmed",
		 "x" + kSpilled + "\r\n#y", "./x\n#y\n", kConverted},
		{"white space past the store inside a line is kept",
		 "y" + kSpilled + "z\\" + kSpilled + "\n" + kSpilled,
		 "./y" + kSpilled + "z/\n\n", kConverted},
		{"white space past the store, dropped, then kept",
		 "x" + kSpilled + "\r\ny" + kSpilled + "z",
		 "./x\n./y" + kSpilled + "z\n", kConverted},
		{"white space held one byte past the store, kept",
		 kOneHeldPastTheStore + "z", "./" + kOneHeldPastTheStore + "z\n", kConverted},
		{"white space past the store then a zero byte is text",
		 kSpilled + string("\0q", 2), "./" + kSpilled + "\n", kConverted},
		{"many long lines", Repeat(Repeat("m", 4500) + "\r\n", 3),
		 Repeat("./" + Repeat("m", 4500) + "\n", 3) + "\n", kConverted},
		// Where a 0x1A ends the text, a run of them at the very end goes;
		// one with anything after it hides text, and is refused.
		{"0x1A is data elsewhere", "#f\x1Ag\r\nh", "#f\x1Ag\n./h\n", kConverted},
		{"0x1A mark at the end dropped", "a\\b\r\n\x1A", "./a/b\n\n", kConverted, true},
		{"0x1A padding at the end dropped", "a\\b  \x1A\x1A\x1A", "./a/b\n", kConverted, true},
		{"0x1A within the text refused", "a\\1.mp3\r\nb\\2.mp3\x1A" "c\\3.mp3\r\nd\r\n", "",
		 kInputEndMark, true},
		{"0x1A before a line end refused", "a\x1A\r\n", "", kInputEndMark, true},
		{"0x1A past a long line's cut dropped", Repeat("x", 5000) + "\x1A", "./" + Repeat("x", 5000) + "\n",
		 kConverted, true},
		{"0x1A past a long line's cut refused", Repeat("x", 5000) + "\x1A\x1Ay", "", kInputEndMark, true},
		{"0x1A in a UTF-16 character is UTF-16", string("\x1A\x01#\0E\0\r\0\n\0", 10), "",
		 kInputIsUtf16, true},
	};
}

// A name of a playlist entry in each of the world's common scripts, in
// UTF-8.
const char *const kScripts[][2] = {
	{"Cyrillic", "\xD0\x9C\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0\\\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE\\"
	             "\xD0\x93\xD1\x80\xD1\x83\xD0\xBF\xD0\xBF\xD0\xB0 \xD0\xBA\xD1\x80\xD0\xBE\xD0\xB2\xD0\xB8.mp3"},
	{"Greek", "\xCE\x9C\xCE\xBF\xCF\x85\xCF\x83\xCE\xB9\xCE\xBA\xCE\xAE\\\xCE\xA7\xCE\xB1\xCF\x84\xCE\xB6\xCE\xB9"
	          "\xCE\xB4\xCE\xAC\xCE\xBA\xCE\xB9\xCF\x82.mp3"},
	{"Hebrew", "\xD7\x9E\xD7\x95\xD7\x96\xD7\x99\xD7\xA7\xD7\x94\\\xD7\x90\xD7\xA8\xD7\x99\xD7\xA7.mp3"},
	{"Arabic", "\xD9\x85\xD9\x88\xD8\xB3\xD9\x8A\xD9\x82\xD9\x89\\\xD9\x81\xD9\x8A\xD8\xB1\xD9\x88\xD8\xB2.mp3"},
	{"Devanagari", "\xE0\xA4\xB8\xE0\xA4\x82\xE0\xA4\x97\xE0\xA5\x80\xE0\xA4\xA4\\\xE0\xA4\xB2\xE0\xA4\xA4"
	               "\xE0\xA4\xBE.mp3"},
	{"Thai", "\xE0\xB9\x80\xE0\xB8\x9E\xE0\xB8\xA5\xE0\xB8\x87\\\xE0\xB8\x84\xE0\xB8\xB2\xE0\xB8\xA3"
	         "\xE0\xB8\xB2\xE0\xB8\x9A\xE0\xB8\xB2\xE0\xB8\xA7.mp3"},
	// U+4E00 is 00 4E in UTF-16LE: a zero on the other side.
	{"Chinese", "\xE9\x9F\xB3\xE4\xB9\x90\\\xE4\xB8\x80\xE8\xB7\xAF\xE5\x90\x91\xE5\x8C\x97.mp3"},
	{"Japanese", "\xE9\x9F\xB3\xE6\xA5\xBD\\\xE3\x83\x95\xE3\x82\xA1\xE3\x83\xBC\xE3\x82\xB9\xE3\x83\x88.mp3"},
	{"Korean", "\xEC\x9D\x8C\xEC\x95\x85\\\xEC\xA2\x8B\xEC\x9D\x80 \xEB\x82\xA0.mp3"},
};

// text, in UTF-8, as width-byte units (2 or 4) in either byte order.
string Wide(const string &text, size_t width, bool big)
{
	string wide;
	for (size_t at = 0; at < text.size();) {
		const unsigned char lead = static_cast<unsigned char>(text[at]);
		const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
		unsigned long point = length == 1 ? lead : lead & (0x7F >> length);
		for (size_t i = 1; i < length; i++)
			point = point << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3F);
		at += length;
		for (size_t i = 0; i < width; i++)
			wide += static_cast<char>(point >> 8 * (big ? width - 1 - i : i));
	}
	return wide;
}

// In every script: single-byte text converts, wide text in either byte
// order, with CR LF or LF, after a header, an empty first line or none, is
// refused.
std::vector<ConvertCase> ScriptCases()
{
	std::vector<ConvertCase> cases;
	for (const auto &script : kScripts) {
		const string name = script[0], entry = script[1];
		string converted = "./" + entry;
		std::replace(converted.begin(), converted.end(), '\\', '/');
		cases.push_back({name + " in UTF-8", "#EXTM3U\r\n" + entry + "\r\n", "#EXTM3U\n" + converted + "\n\n",
		                 kConverted});
		cases.push_back({name + " in UTF-16LE", Wide("#EXTM3U\r\n" + entry + "\r\n", 2, false), "",
		                 kInputIsUtf16});
		cases.push_back({name + " in UTF-16BE, LF", Wide(entry + "\n" + entry, 2, true), "",
		                 kInputIsUtf16});
		cases.push_back({name + " in UTF-16LE, empty first line", Wide("\n" + entry, 2, false), "",
		                 kInputIsUtf16});
		cases.push_back({name + " in UTF-16BE, entry alone", Wide(entry, 2, true), "", kInputIsUtf16});
		cases.push_back({name + " in UTF-32BE", Wide(entry + "\r\n", 4, true), "", kInputIsUtf32});
		cases.push_back({name + " in UTF-32LE", Wide(entry, 4, false), "", kInputIsUtf32});
	}
	// Single-byte code pages: Windows-1251, Shift_JIS, GBK, EUC-KR.
	cases.push_back({"Cyrillic in Windows-1251", "\xCC\xF3\xE7\xFB\xEA\xE0\\\xCA\xE8\xED\xEE.mp3",
	                 "./\xCC\xF3\xE7\xFB\xEA\xE0/\xCA\xE8\xED\xEE.mp3\n", kConverted});
	cases.push_back({"Japanese in Shift_JIS", "\x89\xB9\x8A\x79\\a.mp3", "./\x89\xB9\x8A\x79/a.mp3\n",
	                 kConverted});
	cases.push_back({"Chinese in GBK", "\xD2\xF4\xC0\xD6\\a.mp3", "./\xD2\xF4\xC0\xD6/a.mp3\n", kConverted});
	cases.push_back({"Korean in EUC-KR", "\xC0\xBD\xBE\xC7\\a.mp3", "./\xC0\xBD\xBE\xC7/a.mp3\n", kConverted});
	return cases;
}

class ConvertTest : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertTest, WritesTheExpectedBytes)
{
	FILE *in = StreamOf(GetParam().input);
	FILE *out = tmpfile();
	ASSERT_NE(in, nullptr);
	ASSERT_NE(out, nullptr);

	EXPECT_EQ(ConvertPlaylist(in, out, GetParam().end_mark), GetParam().result);
	if (GetParam().result != kConverted)
		return (void)fclose(in), (void)fclose(out);
	EXPECT_EQ(ContentsOf(out), GetParam().output);
	fclose(in);
	fclose(out);
}

INSTANTIATE_TEST_SUITE_P(Playlists, ConvertTest, ::testing::ValuesIn(ConvertCases()),
	NameOf<ConvertCase>);
INSTANTIATE_TEST_SUITE_P(Scripts, ConvertTest, ::testing::ValuesIn(ScriptCases()),
	NameOf<ConvertCase>);

// Lines from a little under to a little over what the buffer holds, of
// each kind, with and without a byte-order mark before them: each comes out
// whole and rewritten once (AddressSanitizer watches the buffer's end).
TEST(ConvertPlaylist, LinesAroundTheBufferSize)
{
	for (size_t length = kLineCapacity - 5; length <= kLineCapacity + 8; length++) {
		for (const string &start : {string("e\\"), string(".\\"), string("#\\")}) {
			for (const string &mark : {string(), kMark}) {
				const string line = start + Repeat("x", length - 2);
				string rewritten = line;
				if (start[0] != '#') {
					rewritten[1] = '/';
					if (start[0] != '.')
						rewritten = "./" + rewritten;
				}
				FILE *in = StreamOf(mark + line + " \r\n" + line);
				FILE *out = tmpfile();
				ASSERT_NE(in, nullptr);
				ASSERT_NE(out, nullptr);
				EXPECT_EQ(ConvertPlaylist(in, out), kConverted);
				EXPECT_EQ(ContentsOf(out),
				          mark + rewritten + "\n" + rewritten + "\n")
				    << length << " bytes from " << start;
				fclose(in);
				fclose(out);
			}
		}
	}
}

#if defined(TANDREL_FAILING_STREAMS)
// A read or a write that fails midway is reported wherever in a line it
// falls, never taken for the end of the playlist.
TEST(ConvertPlaylist, FaultsMidwayAreReported)
{
	struct Fault {
		const char *where;
		string input;
		size_t read_limit;
		size_t write_limit;
		ConvertResult result;
	};
	const size_t kAll = SIZE_MAX;
	const string long_entry = Repeat("ab\\", 3000) + "\r\nnext";
	const string zero_then_long = string("a\0", 2) + Repeat("b", 9000) + "\nc";
	const string held_blanks = kLongA + Repeat(" ", 9000) + "x\n";
	const Fault faults[] = {
		{"first read", "x", 0, kAll, kReadFailed},
		{"short line", "a\nb\nc", 2, kAll, kReadFailed},
		{"overlong line", long_entry, 5000, kAll, kReadFailed},
		{"skipping past a zero byte", zero_then_long, 6000, kAll, kReadFailed},
		{"white space held across cuts", held_blanks, 8000, kAll, kReadFailed},
		{"byte-order mark", kMark + "#x", kAll, 0, kWriteFailed},
		{"short line", "a\nb", kAll, 3, kWriteFailed},
		{"overlong line", long_entry, kAll, 4000, kWriteFailed},
		{"white space held across cuts", held_blanks, kAll, 4095, kWriteFailed},
		{"end of an overlong line", long_entry, kAll, 9002, kWriteFailed},
	};
	for (const Fault &fault : faults) {
		FILE *in = FailingStream(fault.input, fault.read_limit, "r");
		FILE *out = FailingStream("", fault.write_limit, "w");
		ASSERT_NE(in, nullptr);
		ASSERT_NE(out, nullptr);
		setvbuf(out, nullptr, _IONBF, 0);	// every write reaches the stream
		EXPECT_EQ(ConvertPlaylist(in, out), fault.result) << fault.where;
		fclose(in);
		fclose(out);
	}
}

// White space past the store waits in a scratch file: in $TMPDIR where
// that is set, closed after each conversion (with room for one more file,
// one conversion after another finds it), and with none, the conversion
// fails rather than drop the white space or keep it wrongly.
TEST(ConvertPlaylist, ScratchFileForLongWhiteSpace)
{
	struct Case {
		const char *why;
		int files_left;	// that the conversions may open
		const char *folder;	// $TMPDIR, where set
		int runs;
		ConvertResult result;
	};
	const Case cases[] = {
		{"no file left to open", 0, nullptr, 1, kWriteFailed},
		{"closed after use", 1, nullptr, 3, kConverted},
		{"missing $TMPDIR, /tmp instead", 1, "/no/such/folder", 1, kConverted},
		{"$TMPDIR no folder, /tmp instead", 1, "/dev/null", 1, kConverted},
	};
	for (const Case &test : cases) {
		SCOPED_TRACE(test.why);
		FILE *out = tmpfile();
		ASSERT_NE(out, nullptr);
		std::vector<FILE *> inputs;
		for (int run = 0; run < test.runs; run++) {
			inputs.push_back(StreamOf("x" + kSpilled + "y"));
			ASSERT_NE(inputs.back(), nullptr);
		}
		struct rlimit saved;
		ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
		int lowest_free = dup(0);
		close(lowest_free);
		struct rlimit limit = {static_cast<rlim_t>(lowest_free + test.files_left), saved.rlim_max};
		const char *user_folder = getenv("TMPDIR");
		const string kept = user_folder != nullptr ? user_folder : "";
		if (test.folder != nullptr)
			setenv("TMPDIR", test.folder, 1);
		ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
		std::vector<ConvertResult> results;
		for (FILE *in : inputs)
			results.push_back(ConvertPlaylist(in, out));
		ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
		if (user_folder != nullptr)
			setenv("TMPDIR", kept.c_str(), 1);
		else
			unsetenv("TMPDIR");
		for (size_t run = 0; run < inputs.size(); run++) {
			EXPECT_EQ(results[run], test.result) << "run " << run;
			fclose(inputs[run]);
		}
		fclose(out);
	}
}

// A scratch file that fails: where it takes no more writes (a full
// $TMPDIR), what it held moves to the next place; where it cannot give back
// what it held, the conversion says so rather than write a line without
// that white space, or go on as if it had held it.
TEST(ConvertPlaylist, BrokenScratchFile)
{
	const string kept = "x" + kSpilled + "y\n", dropped = "x" + kSpilled + "\r\n";
	const struct {
		ScratchFault fault;
		string input;
		ConvertResult result;
	} cases[] = {
		{kNoRead, kept, kWriteFailed},
		{kNoSeek, kept, kWriteFailed},
		{kNoWrite, kept, kConverted},
		// A run that is dropped needs no reading back.
		{kNoWrite, dropped, kConverted},
	};
	for (const auto &test : cases) {
		FILE *in = StreamOf(test.input);
		FILE *out = tmpfile();
		ASSERT_NE(in, nullptr);
		ASSERT_NE(out, nullptr);
		Conversion conversion;
		ASSERT_EQ(StartConversion(in, &conversion), kConverted);
		conversion.spill = BrokenScratch(test.fault);
		ASSERT_NE(conversion.spill, nullptr);
		setvbuf(conversion.spill, nullptr, _IONBF, 0);
		EXPECT_EQ(FinishConversion(out, &conversion), test.result) << test.fault;
		if (test.result == kConverted) {
			EXPECT_EQ(ContentsOf(out), test.input == kept ? "./x" + kSpilled + "y\n\n" : "./x\n\n");
		}
		fclose(in);
		fclose(out);
	}
}
#endif

// Real streams that fail: on Linux a folder opens as a stream and then
// fails to read, and /dev/full takes no write. A read error is not the end
// of the input.
TEST(ConvertPlaylist, RealStreamsThatFailAreReported)
{
	struct Case {
		const char *name;
		bool input;	// the stream is the input, else the output
		ConvertResult result;
	};
	for (const Case &test : {Case{".", true, kReadFailed}, Case{"/dev/full", false, kWriteFailed}}) {
		FILE *failing = fopen(test.name, test.input ? "r" : "w");
		if (failing == nullptr)
			GTEST_SKIP() << test.name << " does not open as a stream here";
		FILE *other = test.input ? tmpfile() : StreamOf("a\\b\n");
		ASSERT_NE(other, nullptr);
		FILE *in = test.input ? failing : other, *out = test.input ? other : failing;
		EXPECT_EQ(ConvertPlaylist(in, out), test.result) << test.name;
		if (test.input) {
			EXPECT_EQ(ContentsOf(out), "");
		}
		fclose(in);
		fclose(out);
	}
}

}  // namespace
