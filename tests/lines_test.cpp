#include "playlist/lines.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/stream_util.h"

namespace {

struct Read {
	std::string line;	// bytes kept, zero bytes included
	bool more;
	bool cut;
};

struct ReaderCase {
	const char *name;
	std::string input;
	size_t capacity;
	std::vector<Read> reads;
};

// A line that fills the buffer as the line loop uses it.
const std::string kLongest = Repeat("x", kLineCapacity - 1);

std::vector<ReaderCase> ReaderCases()
{
	using std::string;
	return {
		{"empty stream", "", 4092, {{"", false, false}}},
		{"line feed then end", "abc\n", 4092,
		 {{"abc", true, false}, {"", false, false}}},
		{"no final line feed", "abc", 4092, {{"abc", false, false}}},
		{"trailing blanks and CR", "abc \t \r\n", 4092,
		 {{"abc", true, false}, {"", false, false}}},
		{"white space only", " \t\v\f\r\n", 4092,
		 {{"", true, false}, {"", false, false}}},
		{"leading blanks kept", "  a.mp3\n", 4092,
		 {{"  a.mp3", true, false}, {"", false, false}}},
		{"high bytes are not white space", "D\xC3\xA9j\xC3\xA0\nb\x85\r\n", 4092,
		 {{"D\xC3\xA9j\xC3\xA0", true, false}, {"b\x85", true, false},
		  {"", false, false}}},
		{"0xFF is data, not end of file", "\xFF\n\xFF", 4092,
		 {{"\xFF", true, false}, {"\xFF", false, false}}},
		{"zero byte stored; trimming starts at last byte",
		 string("ab \0x\n", 6), 4092,
		 {{string("ab \0x", 5), true, false}, {"", false, false}}},
		{"white space before a final zero byte stays",
		 string("ab \0", 4), 4092, {{string("ab \0", 4), false, false}}},
		{"exactly the bound", kLongest + "\nnext", kLineCapacity,
		 {{kLongest, true, false}, {"next", false, false}}},
		{"one past the bound goes on, nothing lost", kLongest + "yz\n",
		 kLineCapacity,
		 {{kLongest, true, true}, {"yz", true, false}, {"", false, false}}},
		{"4091 characters, as the program reads them",
		 Repeat("x", 4091) + "\nnext", 4092,
		 {{Repeat("x", 4091), true, false}, {"next", false, false}}},
		{"no trimming at a cut", "ab  cd", 4,
		 {{"ab ", true, true}, {" cd", false, false}}},
		{"line feed right at the cut", "abc\nd", 4,
		 {{"abc", true, false}, {"d", false, false}}},
		{"capacity 2 advances a byte at a time", "ab\n", 2,
		 {{"a", true, true}, {"b", true, false}, {"", false, false}}},
		{"CR LF across a cut", "abc\r\n", 4,
		 {{"abc", true, true}, {"", true, false}, {"", false, false}}},
	};
}

class ReaderTest : public ::testing::TestWithParam<ReaderCase> {};

// Each line, and what follows; the same without the optional reports.
TEST_P(ReaderTest, GivesEachLineAndWhatFollows)
{
	const ReaderCase &test = GetParam();
	FILE *stream = StreamOf(test.input), *plain = StreamOf(test.input);
	ASSERT_NE(stream, nullptr);
	ASSERT_NE(plain, nullptr);
	std::vector<char> buffer(test.capacity, '@'), plain_buffer(test.capacity);	// no room to spare

	for (const Read &expected : test.reads) {
		bool cut = !expected.cut;
		size_t stored = 99999;
		bool more = ReadLine(stream, buffer.data(), test.capacity, &cut, &stored);
		EXPECT_EQ(std::string(buffer.data(), stored), expected.line);
		EXPECT_EQ(buffer[stored], '\0');
		EXPECT_EQ(more, expected.more);
		EXPECT_EQ(cut, expected.cut);
		EXPECT_EQ(ReadLine(plain, plain_buffer.data(), test.capacity), expected.more);
		EXPECT_STREQ(plain_buffer.data(), expected.line.c_str());
	}
	fclose(stream);
	fclose(plain);
}

INSTANTIATE_TEST_SUITE_P(Lines, ReaderTest, ::testing::ValuesIn(ReaderCases()),
	NameOf<ReaderCase>);

struct RewriteCase {
	std::string read;
	std::string written;
};

class RewriteTest : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteTest, RewritesInPlace)
{
	char line[kLineSize];
	memset(line, '@', sizeof line);
	memcpy(line, GetParam().read.c_str(), GetParam().read.size() + 1);

	RewriteLine(line);
	EXPECT_EQ(std::string(line), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(Lines, RewriteTest, ::testing::Values(
	RewriteCase{"C:\\Music\\Song.mp3", "./C:/Music/Song.mp3"},
	RewriteCase{"Music\\Song.mp3", "./Music/Song.mp3"},
	RewriteCase{"..\\Song.mp3", "../Song.mp3"},
	RewriteCase{".\\Song.mp3", "./Song.mp3"},
	RewriteCase{"/music/song.mp3", ".//music/song.mp3"},
	RewriteCase{"#EXTINF:215,Artist - Title", "#EXTINF:215,Artist - Title"},
	RewriteCase{"#C:\\Music\\Song.mp3", "#C:\\Music\\Song.mp3"},
	RewriteCase{"", ""},
	RewriteCase{" Song.mp3", "./ Song.mp3"},
	RewriteCase{" #EXTM3U", "./ #EXTM3U"},
	RewriteCase{"\xEF\xBB\xBF#EXTM3U", "./\xEF\xBB\xBF#EXTM3U"},
	RewriteCase{"\\\\server\\share\\a.mp3", ".///server/share/a.mp3"},
	RewriteCase{"Caf\xE9\\\xFF.mp3", "./Caf\xE9/\xFF.mp3"},
	RewriteCase{"http://host/a.mp3", "./http://host/a.mp3"},
	RewriteCase{kLongest, "./" + kLongest}));

// With no room for a byte a call could not advance without losing it.
TEST(ReadLine, RefusesCapacitiesThatCannotAdvance)
{
	FILE *stream = StreamOf("abc\n");
	ASSERT_NE(stream, nullptr);
	char line[8] = "@@@@@@@";

	for (size_t capacity : {0, 1}) {
		errno = 0;
		EXPECT_FALSE(ReadLine(stream, line, capacity));
		EXPECT_EQ(errno, EINVAL);
		// Capacity 0 leaves no room even for the zero.
		EXPECT_EQ(line[0], capacity == 0 ? '@' : '\0');
		EXPECT_EQ(line[1], '@');
	}
	EXPECT_TRUE(ReadLine(stream, line, sizeof line));
	EXPECT_STREQ(line, "abc");
	fclose(stream);
}

TEST(ReplaceChar, ReplacesEveryMatchUpToTheZero)
{
	char text[] = "a\\b\\\\c\0\\";

	ReplaceChar(text, '\\', '/');
	EXPECT_EQ(std::string(text, sizeof text - 1), std::string("a/b//c\0\\", 8));
}

}  // namespace
