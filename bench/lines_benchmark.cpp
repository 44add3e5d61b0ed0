// Throughput of the line reader, the rewriting and the whole loop, in bytes
// per second, on a Windows-style playlist held in memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "playlist/convert.h"
#include "playlist/lines.h"

namespace {

std::string MakePlaylist(int lines)
{
	std::string text = "#EXTM3U\r\n";
	char line[128];
	for (int i = 1; i < lines; i++) {
		if (i % 2 == 1)
			snprintf(line, sizeof line,
			         "#EXTINF:%d,Artist Name %d - Song Title %d\r\n",
			         120 + i % 300, i % 97, i);
		else if (i % 4 == 0)
			snprintf(line, sizeof line,
			         "C:\\Music\\Some Artist\\Album %d\\Track %d.mp3\r\n",
			         i % 113, i);
		else
			snprintf(line, sizeof line,
			         "..\\Shared Music\\Disc %d\\%d Song.flac \r\n", i % 31, i);
		text += line;
	}
	return text;
}

const std::string &Playlist()
{
	static const std::string playlist = MakePlaylist(20000);
	return playlist;
}

void ReadAllLines(benchmark::State &state)
{
	std::string data = Playlist();
	char line[kLineSize];

	for (auto _ : state) {
		FILE *in = fmemopen(data.data(), data.size(), "r");
		while (ReadLine(in, line, kLineCapacity))
			benchmark::DoNotOptimize(line);
		fclose(in);
	}
	state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(ReadAllLines);

void RewriteAllLines(benchmark::State &state)
{
	std::vector<std::string> lines;
	size_t bytes = 0;
	for (size_t start = 0, end; (end = Playlist().find('\n', start)) != std::string::npos;
	     start = end + 1) {
		lines.push_back(Playlist().substr(start, end - start - 1));
		bytes += lines.back().size();
	}
	char line[kLineSize];

	for (auto _ : state) {
		for (const std::string &text : lines) {
			memcpy(line, text.c_str(), text.size() + 1);
			RewriteLine(line);
			benchmark::DoNotOptimize(line);
		}
	}
	state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(RewriteAllLines);

void ConvertWholePlaylist(benchmark::State &state)
{
	std::string data = Playlist();
	FILE *out = fopen("/dev/null", "w");

	for (auto _ : state) {
		FILE *in = fmemopen(data.data(), data.size(), "r");
		if (ConvertPlaylist(in, out) != kConverted)
			state.SkipWithError("conversion failed");
		fclose(in);
	}
	fclose(out);
	state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(ConvertWholePlaylist);

}  // namespace

BENCHMARK_MAIN();
