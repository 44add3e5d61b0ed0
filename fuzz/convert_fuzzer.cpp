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

bool StartsUtf16(const std::string &line)
{
	return line.size() >= 2 &&
	       ((line[0] == '\xFF' && line[1] == '\xFE') ||
	        (line[0] == '\xFE' && line[1] == '\xFF'));
}

// UTF-16 without its mark, as the first piece of the first line shows it:
// at least four bytes, every other one zero.
bool LooksUtf16(std::string line)
{
	if (line.size() > kLineCapacity - 1) {
		line.resize(kLineCapacity - 1);
	} else {
		while (!line.empty() && IsTrailingSpace(line.back()))
			line.pop_back();
	}
	bool zero_at_even = true, zero_at_odd = true;
	for (size_t i = 0; i < line.size(); i++) {
		if (line[i] != '\0')
			(i % 2 == 0 ? zero_at_even : zero_at_odd) = false;
	}
	return line.size() >= 4 && (zero_at_even || zero_at_odd);
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

// What the conversion must write; false when it must refuse the input.
bool ConvertModel(const std::string &input, std::string *output)
{
	size_t start = 0;

	for (bool first = true;; first = false) {
		size_t end = input.find('\n', start);
		std::string line = input.substr(start, end == std::string::npos
		                                           ? std::string::npos
		                                           : end - start);
		if (first && (StartsUtf16(line) || LooksUtf16(line)))
			return false;
		if (first && line.compare(0, kMark.size(), kMark) == 0) {
			*output += kMark;
			line.erase(0, kMark.size());
		}
		*output += RewriteModel(line) + "\n";
		if (end == std::string::npos)
			return true;
		start = end + 1;
	}
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string input(reinterpret_cast<const char *>(data), size);
	std::string expected;
	const bool accepted = ConvertModel(input, &expected);

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

	if (result != (accepted ? kConverted : kInputIsUtf16)) {
		fprintf(stderr, "result %d, expected %s\n", result,
		        accepted ? "converted" : "refused as UTF-16");
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
