#include "playlist/convert.h"

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "tests/stream_util.h"

namespace {

using std::string;

struct ConvertCase {
	const char *name;
	string input;
	string output;
	ConvertResult result;
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
		{"utf-16 with an empty first line", string("\r\0\n\0#\0E\0\r\0\n\0M\0\\\0", 16), "",
		 kInputIsUtf16},
		{"utf-16 big-endian, one-character first line", string("\0A\0\r\0\n\0B\0\\\0c", 12), "",
		 kInputIsUtf16},
		{"utf-32 little-endian refused", string("\xFF\xFE\0\0#\0\0\0", 8), "", kInputIsUtf32},
		{"utf-32 big-endian refused", string("\0\0\xFE\xFF\0\0\0#", 8), "", kInputIsUtf32},
		{"utf-32 without its mark refused", string("\r\0\0\0\n\0\0\0a\0\0\0", 12), "",
		 kInputIsUtf32},
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
	};
}

class ConvertTest : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertTest, WritesTheExpectedBytes)
{
	FILE *in = StreamOf(GetParam().input);
	FILE *out = tmpfile();
	ASSERT_NE(in, nullptr);
	ASSERT_NE(out, nullptr);

	EXPECT_EQ(ConvertPlaylist(in, out), GetParam().result);
	EXPECT_EQ(ContentsOf(out), GetParam().output);
	fclose(in);
	fclose(out);
}

INSTANTIATE_TEST_SUITE_P(Playlists, ConvertTest, ::testing::ValuesIn(ConvertCases()),
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

// A scratch file that fails: the conversion says so rather than write a
// line without the white space it held, or go on as if it had held it.
TEST(ConvertPlaylist, BrokenScratchFileIsAFailure)
{
	for (ScratchFault fault : {kNoRead, kNoWrite, kNoSeek}) {
		// A run that is dropped needs no reading back.
		FILE *in = StreamOf("x" + kSpilled + (fault == kNoWrite ? "\r\n" : "y\n"));
		FILE *out = tmpfile();
		ASSERT_NE(in, nullptr);
		ASSERT_NE(out, nullptr);
		Conversion conversion;
		ASSERT_EQ(StartConversion(in, &conversion), kConverted);
		conversion.spill = BrokenScratch(fault);
		ASSERT_NE(conversion.spill, nullptr);
		setvbuf(conversion.spill, nullptr, _IONBF, 0);
		EXPECT_EQ(FinishConversion(in, out, &conversion), kWriteFailed) << fault;
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
