// Feeds arbitrary bytes through the conversion the program runs, on real
// streams, and checks the output against a plain model of the line rules:
// one line out for every line in, entries prefixed once and free of
// back-slashes, comments only trimmed, nothing else lost or added; of the
// wide-text rule; and, as on Windows, of 0x1A ending the text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "playlist/convert.h"

namespace {

const std::string kMark = "\xEF\xBB\xBF";

bool IsTrailingSpace(char byte)
{
	return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' ||
	       byte == '\f' || byte == '\r';
}

// The share of units of size bytes among the first 256 bytes whose bytes
// at offsets one and other are both zero is more than half, with at least
// least units.
bool MostlyZero(const std::string &head, size_t size, size_t least, size_t one, size_t other)
{
	size_t units = head.size() / size, zero = 0;
	for (size_t unit = 0; unit < units; unit++)
		zero += head[unit * size + one] == '\0' && head[unit * size + other] == '\0';
	return units >= least && zero * 2 > units;
}

// Among the 2-byte units, those with a zero byte at offset zero alone
// outnumber those with one at the other offset alone, and there are two of
// them or one is a line feed.
bool Leans(const std::string &head, size_t zero)
{
	size_t leaning = 0, against = 0;
	bool line_feed = false;
	for (size_t at = 0; at + 1 < head.size(); at += 2) {
		const char mine = head[at + zero], theirs = head[at + 1 - zero];
		if (mine == '\0' && theirs != '\0') {
			leaning++;
			line_feed = line_feed || theirs == '\n';
		}
		if (theirs == '\0' && mine != '\0')
			against++;
	}
	return leaning > against && (leaning >= 2 || line_feed);
}

// What the first 256 bytes say: 32 or 16 for wide text, 0 for bytes.
int WideModel(const std::string &input)
{
	const std::string head = input.substr(0, 256);
	if (head.compare(0, 4, std::string("\xFF\xFE\0\0", 4)) == 0 ||
	    head.compare(0, 4, std::string("\0\0\xFE\xFF", 4)) == 0 ||
	    MostlyZero(head, 4, 1, 2, 3) || MostlyZero(head, 4, 1, 0, 1))
		return 32;
	if (head.compare(0, 2, "\xFF\xFE") == 0 || head.compare(0, 2, "\xFE\xFF") == 0 ||
	    Leans(head, 1) || Leans(head, 0))
		return 16;
	return 0;
}

// The whole physical line, however long: trimmed at its real end, its text
// ending at the first zero byte, then rewritten.
std::string RewriteModel(std::string line)
{
	while (!line.empty() && IsTrailingSpace(line.back()))
		line.pop_back();
	line = line.substr(0, line.find('\0'));
	if (line.empty() || line[0] == '#')
		return line;
	if (line[0] != '.')
		line = "./" + line;
	for (char &byte : line) {
		if (byte == '\\')
			byte = '/';
	}
	return line;
}

// What the conversion must write of an input it takes.
void ConvertModel(const std::string &input, std::string *output)
{
	size_t start = 0;

	for (bool first = true;; first = false) {
		size_t end = input.find('\n', start);
		std::string line = input.substr(start, end == std::string::npos
		                                           ? std::string::npos
		                                           : end - start);
		if (first && line.compare(0, kMark.size(), kMark) == 0) {
			*output += kMark;
			line.erase(0, kMark.size());
		}
		*output += RewriteModel(line) + "\n";
		if (end == std::string::npos)
			return;
		start = end + 1;
	}
}


// One conversion, with or without 0x1A ending the text, against the model.
void CheckConversion(const uint8_t *data, size_t size, bool end_mark)
{
	std::string input(reinterpret_cast<const char *>(data), size);
	ConvertResult wanted = kConverted;
	const int wide = WideModel(input);
	if (wide != 0)
		wanted = wide == 32 ? kInputIsUtf32 : kInputIsUtf16;
	// Where 0x1A ends the text, a run of them up to the end goes; one with
	// anything after it refuses the input.
	const size_t mark = end_mark ? input.find('\x1A') : std::string::npos;
	if (wanted == kConverted && mark != std::string::npos) {
		if (input.find_first_not_of('\x1A', mark) != std::string::npos)
			wanted = kInputEndMark;
		input.erase(mark);
	}
	std::string expected;
	if (wanted == kConverted)
		ConvertModel(input, &expected);

	FILE *in = size > 0 ? fmemopen(const_cast<uint8_t *>(data), size, "r") : tmpfile();
	char *written = nullptr;
	size_t written_size = 0;
	FILE *out = open_memstream(&written, &written_size);
	if (in == nullptr || out == nullptr)
		abort();

	ConvertResult result = ConvertPlaylist(in, out, end_mark);
	fclose(in);
	fclose(out);
	const std::string output(written, written_size);
	free(written);

	if (result != wanted) {
		fprintf(stderr, "result %d, expected %d (end mark %d)\n", result, wanted, end_mark);
		abort();
	}
	if (result == kConverted && output != expected) {
		size_t at = 0;
		while (at < output.size() && at < expected.size() && output[at] == expected[at])
			at++;
		fprintf(stderr, "output (%zu bytes) differs from the model (%zu bytes) "
		        "first at byte %zu (end mark %d)\n", output.size(), expected.size(), at, end_mark);
		abort();
	}
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	CheckConversion(data, size, false);
	CheckConversion(data, size, true);
	return 0;
}
