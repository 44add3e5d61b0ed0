// Real streams holding chosen bytes, and what else the unit tests share.
#ifndef TANDREL_TESTS_STREAM_UTIL_H
#define TANDREL_TESTS_STREAM_UTIL_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

inline std::string Repeat(const std::string &piece, size_t count)
{
	std::string bytes;
	while (count-- > 0)
		bytes += piece;
	return bytes;
}

// A test's name made of its case's name: letters and digits, '_' for the
// rest.
template <typename Case>
std::string NameOf(const ::testing::TestParamInfo<Case> &info)
{
	std::string name;
	for (char c : std::string(info.param.name))
		name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
	return name;
}

// A temporary file holding bytes, open for reading from its start.
inline FILE *StreamOf(const std::string &bytes)
{
	FILE *stream = tmpfile();
	if (stream == nullptr)
		return nullptr;
	fwrite(bytes.data(), 1, bytes.size(), stream);
	rewind(stream);
	return stream;
}

// Everything in stream from its start.
inline std::string ContentsOf(FILE *stream)
{
	std::string bytes;
	int c;

	fflush(stream);
	rewind(stream);
	while ((c = getc(stream)) != EOF)
		bytes += static_cast<char>(c);
	return bytes;
}

#if defined(__GLIBC__)
#define TANDREL_FAILING_STREAMS 1

// A stream whose reads or writes fail (EIO) once it has passed on limit
// bytes, as a disk or a network file system may fail midway.
struct Failing {
	std::string bytes;	// what is read, or what was written
	size_t limit;
	size_t done;
};

inline ssize_t ReadFailing(void *cookie, char *buffer, size_t size)
{
	Failing *failing = static_cast<Failing *>(cookie);
	if (failing->done == failing->limit && failing->done < failing->bytes.size()) {
		errno = EIO;
		return -1;
	}
	size_t end = std::min({failing->bytes.size(), failing->limit, failing->done + size});
	memcpy(buffer, failing->bytes.data() + failing->done, end - failing->done);
	ssize_t count = static_cast<ssize_t>(end - failing->done);
	failing->done = end;
	return count;
}

inline ssize_t WriteFailing(void *cookie, const char *buffer, size_t size)
{
	Failing *failing = static_cast<Failing *>(cookie);
	size_t room = failing->limit - failing->done;
	if (room == 0) {
		errno = EIO;
		return -1;
	}
	size_t count = std::min(room, size);
	failing->bytes.append(buffer, count);
	failing->done += count;
	return static_cast<ssize_t>(count);
}

// Closes a cookie stream of T.
template <typename T>
int DeleteCookie(void *cookie)
{
	delete static_cast<T *>(cookie);
	return 0;
}

inline FILE *FailingStream(const std::string &bytes, size_t limit, const char *mode)
{
	cookie_io_functions_t functions = {ReadFailing, WriteFailing, nullptr, DeleteCookie<Failing>};
	return fopencookie(new Failing{bytes, limit, 0}, mode, functions);
}

// A scratch file that fails at one thing: reading back, taking writes, or
// going back to its start the first time.
enum ScratchFault { kNoRead, kNoWrite, kNoSeek };

struct Broken {
	ScratchFault fault;
	bool sought;
};

inline ssize_t ReadBroken(void *, char *, size_t)
{
	errno = EIO;
	return -1;
}

inline ssize_t WriteBroken(void *cookie, const char *, size_t size)
{
	errno = EIO;
	return static_cast<Broken *>(cookie)->fault == kNoWrite ? -1 : static_cast<ssize_t>(size);
}

// Fails the first seek only, so that what comes after may go on.
inline int SeekBroken(void *cookie, off64_t *, int)
{
	Broken *broken = static_cast<Broken *>(cookie);
	bool fails = broken->fault == kNoSeek && !broken->sought;
	broken->sought = true;
	errno = EIO;
	return fails ? -1 : 0;
}

inline FILE *BrokenScratch(ScratchFault fault)
{
	cookie_io_functions_t functions = {ReadBroken, WriteBroken, SeekBroken, DeleteCookie<Broken>};
	return fopencookie(new Broken{fault, false}, "w+", functions);
}
#endif

#endif
