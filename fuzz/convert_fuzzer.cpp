// Feeds arbitrary bytes through the conversion the program runs, on real
// streams, and checks the output against a plain model of the line rules:
// one line out for every line in, entries prefixed once and free of
// back-slashes, comments only trimmed, nothing else lost or added.
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

// What the first 256 bytes say: 32 or 16 for wide text, 0 for bytes.
int WideModel(const std::string &input)
{
	const std::string head = input.substr(0, 256);
	if (head.compare(0, 4, std::string("\xFF\xFE\0\0", 4)) == 0 ||
	    head.compare(0, 4, std::string("\0\0\xFE\xFF", 4)) == 0 ||
	    MostlyZero(head, 4, 1, 2, 3) || MostlyZero(head, 4, 1, 0, 1))
		return 32;
	if (head.compare(0, 2, "\xFF\xFE") == 0 || head.compare(0, 2, "\xFE\xFF") == 0 ||
	    MostlyZero(head, 2, 2, 0, 0) || MostlyZero(head, 2, 2, 1, 1))
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string input(reinterpret_cast<const char *>(data), size);
	std::string expected;
	const int wide = WideModel(input);
	if (wide == 0)
		ConvertModel(input, &expected);

	FILE *in = size > 0 ? fmemopen(const_cast<uint8_t *>(data), size, "r")
	                    : tmpfile();
	char *written = nullptr;
	size_t written_size = 0;
	FILE *out = open_memstream(&written, &written_size);
	if (in == nullptr || out == nullptr)
		abort();

	ConvertResult result = ConvertPlaylist(in, out);
	fclose(in);
	fclose(out);
	const std::string output(written, written_size);
	free(written);

	const ConvertResult wanted = wide == 32 ? kInputIsUtf32 : wide == 16 ? kInputIsUtf16 : kConverted;
	if (result != wanted) {
		fprintf(stderr, "result %d, expected %d\n", result, wanted);
		abort();
	}
	if (output != expected) {
		size_t at = 0;
		while (at < output.size() && at < expected.size() &&
		       output[at] == expected[at])
			at++;
		fprintf(stderr, "output (%zu bytes) differs from the model (%zu bytes) "
		        "first at byte %zu\n", output.size(), expected.size(), at);
		abort();
	}
	return 0;
}
