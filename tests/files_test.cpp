#include "frontend/platform.h"

#include <gtest/gtest.h>

#include <string>

// A writer that changes any one byte changes the digest, wherever the byte
// lies against the eight-byte words it is taken in.
TEST(Digest, EveryByteCounts)
{
	for (size_t count = 1; count <= 40; count++) {
		std::string bytes(count, 'a');
		const auto of = [&] {
			return Digest(kDigestStart, reinterpret_cast<const unsigned char *>(bytes.data()),
			              bytes.size());
		};
		const unsigned long long before = of();
		for (size_t at = 0; at < count; at++) {
			bytes[at] = 'b';
			EXPECT_NE(of(), before) << count << " bytes, byte " << at << " changed";
			bytes[at] = 'a';
		}
	}
}

// The process a leftover's name says made it, and 0 for names of no run.
TEST(HiddenLeaf, ProcessOfAName)
{
	const struct {
		const char *leaf;
		unsigned long process;
	} names[] = {
		{".~tandrel-new-1234-7.m3u", 1234}, {".~tandrel-new-3.m3u", 0},
		{".~tandrel-new-12-x.m3u", 0},      {".~tandrel-new-12-7.m3u.bak", 0},
		{".~tandrel-old-12-7.m3u", 0},      {"~tandrel-temp.m3u", 0},
	};
	for (const auto &name : names)
		EXPECT_EQ(HiddenLeafProcess(name.leaf), name.process) << name.leaf;
	char leaf[64];
	HiddenLeaf("new", 4321, 9, leaf, sizeof leaf);
	EXPECT_EQ(HiddenLeafProcess(leaf), 4321UL);
}
