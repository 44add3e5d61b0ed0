// Runs the built tandrel in a scratch directory and checks what a user
// sees: standard output to the byte, an empty standard error, the exit
// status, and every file left in the directory.
//
// Arguments: --program=PATH names the program; --launcher=WORD, given once
// or more, the command that runs it (an emulator and its settings), which
// exits 77 when told --check on a host where it cannot run; --crlf says that
// the program ends its lines with CR LF.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using std::string;

namespace {

struct Outcome {
	int status;
	string out;
	string err;
};

struct Limits {
	rlim_t file_size = RLIM_INFINITY;
	rlim_t open_files = RLIM_INFINITY;
	bool as_nobody = false;	// when run by root, which no permission stops
};

string program;
std::vector<string> launcher;
bool crlf = false;

bool Emulated()
{
	return !launcher.empty();
}


int RunLauncherCheck()
{
	string command;
	for (const string &word : launcher)
		command += "'" + word + "' ";
	int status = system((command + "--check >/dev/null 2>&1").c_str());
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Asked once: whether the emulator can run at all on this host.
bool LauncherRuns()
{
	static const int status = RunLauncherCheck();
	return status == 0;
}

// Text as the program writes it: line feeds become CR LF where it runs so.
string Nl(const string &text)
{
	if (!crlf)
		return text;
	string converted;
	for (char c : text) {
		if (c == '\n')
			converted += '\r';
		converted += c;
	}
	return converted;
}

const string kBanner =
	"\n"
	"Tandrel 1.0, Windows playlists for UNIX players\n"
	"Fix M3U files written by Winamp to make them readable under UNIX (e.g. by XMMS).\n"
	"\n";
const string kTemp = "~tandrel-temp.m3u";

// What a run prints: the banner, the progress line, then the line given.
string Said(const string &from, const string &to, const string &line = "")
{
	string text = kBanner + "Processing \"" + from + "\" to \"" + to + "\"...\n";
	if (!line.empty())
		text += line + "\n";
	return Nl(text);
}

string Slurp(const fs::path &path)
{
	std::ifstream file(path, std::ios::binary);
	std::ostringstream bytes;
	bytes << file.rdbuf();
	return bytes.str();
}

const string kWindowsList =
	"#EXTM3U\r\n"
	"#EXTINF:215,Artist - Title\r\n"
	"C:\\Music\\Song.mp3\r\n"
	"Music\\Other Folder\\Caf\xE9.mp3  \r\n"
	"..\\Up.mp3\r\n"
	"\r\n";
const string kUnixList =
	"#EXTM3U\n"
	"#EXTINF:215,Artist - Title\n"
	"./C:/Music/Song.mp3\n"
	"./Music/Other Folder/Caf\xE9.mp3\n"
	"../Up.mp3\n"
	"\n"
	"\n";

class EndToEnd : public ::testing::Test {
protected:
	void SetUp() override
	{
		ASSERT_FALSE(program.empty()) << "no --program=PATH given";
		if (Emulated() && !LauncherRuns())
			GTEST_SKIP() << "the emulator cannot run on this host";
		program_ = fs::absolute(program).string();
		char pattern[] = "/tmp/tandrel-e2e-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		scratch_ = pattern;
		work_ = scratch_ / "work";
		fs::create_directory(work_);
	}

	void TearDown() override
	{
		std::error_code ignored;
		fs::remove_all(scratch_, ignored);
	}

	fs::path At(const string &name) const { return work_ / name; }

	void Write(const string &name, const string &bytes, mode_t mode = 0644)
	{
		fs::path path = At(name);
		std::ofstream(path, std::ios::binary) << bytes;
		chmod(path.c_str(), mode);
	}

	string Read(const string &name) const { return Slurp(At(name)); }

	// Names in the work directory, sorted.
	std::vector<string> Files() const
	{
		std::vector<string> names;
		for (const auto &entry : fs::directory_iterator(work_))
			names.push_back(entry.path().filename().string());
		std::sort(names.begin(), names.end());
		return names;
	}

	Outcome Run(const std::vector<string> &args, Limits limits = Limits())
	{
		fs::path out = scratch_ / "stdout", err = scratch_ / "stderr";
		std::vector<string> words;
		words.insert(words.end(), launcher.begin(), launcher.end());
		words.push_back(program_);
		words.insert(words.end(), args.begin(), args.end());
		std::vector<char *> argv;
		for (string &word : words)
			argv.push_back(word.data());
		argv.push_back(nullptr);

		fflush(nullptr);
		pid_t child = fork();
		if (child == 0) {
			int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			int null_fd = open("/dev/null", O_RDONLY);
			if (out_fd < 0 || err_fd < 0 || null_fd < 0 ||
			    dup2(null_fd, 0) < 0 || dup2(out_fd, 1) < 0 ||
			    dup2(err_fd, 2) < 0 || chdir(work_.c_str()) != 0)
				_exit(126);
			closefrom(3);
			umask(022);
			signal(SIGXFSZ, SIG_IGN);
			struct rlimit size = {limits.file_size, limits.file_size};
			struct rlimit files = {limits.open_files, limits.open_files};
			if (setrlimit(RLIMIT_FSIZE, &size) != 0 ||
			    (limits.open_files != RLIM_INFINITY &&
			     setrlimit(RLIMIT_NOFILE, &files) != 0))
				_exit(126);
			if (limits.as_nobody && getuid() == 0 &&
			    (setgid(65534) != 0 || setuid(65534) != 0))
				_exit(126);
			execvp(argv[0], argv.data());
			_exit(127);
		}
		int status = 0;
		waitpid(child, &status, 0);
		Outcome outcome;
		outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
		outcome.out = Slurp(out);
		outcome.err = Slurp(err);
		return outcome;
	}

	// Runs and checks status, standard output and an empty standard error.
	void Expect(const std::vector<string> &args, int status,
	            const string &out, Limits limits = Limits())
	{
		Outcome outcome = Run(args, limits);
		EXPECT_EQ(outcome.status, status);
		EXPECT_EQ(outcome.out, out);
		EXPECT_EQ(outcome.err, "");
	}

	string program_;
	fs::path scratch_;
	fs::path work_;
};

using Names = std::vector<string>;

TEST_F(EndToEnd, NoArgumentPrintsNoticeAndUsage)
{
	Expect({}, 0, Nl(kBanner +
		"Copyright (c) 2026 the tandrel developers.\n"
		"tandrel is free software under the MIT licence: you may use, copy,\n"
		"modify, merge, publish, distribute, sublicense and sell copies of it,\n"
		"provided the copyright and permission notice go with every copy.\n"
		"It comes WITHOUT ANY WARRANTY. The licence text is in the file LICENSE\n"
		"and at https://opensource.org/licenses/MIT\n"
		"\n"
		"USAGE: tandrel infile.m3u [outfile.m3u]\n"));
	EXPECT_EQ(Files(), Names{});
}

TEST_F(EndToEnd, InPlaceRewritesThePlaylist)
{
	Write("list.m3u", kWindowsList);
	Expect({"list.m3u"}, 0, Said(kTemp, "list.m3u"));
	EXPECT_EQ(Read("list.m3u"), Nl(kUnixList));
	EXPECT_EQ(Files(), Names{"list.m3u"});
}

TEST_F(EndToEnd, DashHIsAFileName)
{
	Write("-h", "a\\b\n");
	Expect({"-h"}, 0, Said(kTemp, "-h"));
	EXPECT_EQ(Read("-h"), Nl("./a/b\n\n"));
	EXPECT_EQ(Files(), Names{"-h"});
}

TEST_F(EndToEnd, TwoFilesReadOneAndWriteTheOther)
{
	Write("in.m3u", kWindowsList);
	Write("out.m3u", "old contents, longer than nothing");
	Expect({"in.m3u", "out.m3u", "ignored", "-x"}, 0, Said("in.m3u", "out.m3u"));
	EXPECT_EQ(Read("in.m3u"), kWindowsList);
	EXPECT_EQ(Read("out.m3u"), Nl(kUnixList));
	EXPECT_EQ(Files(), (Names{"in.m3u", "out.m3u"}));
}

TEST_F(EndToEnd, EmptyInputGivesOneEmptyLine)
{
	Write("empty.m3u", "");
	Expect({"empty.m3u", "out.m3u"}, 0, Said("empty.m3u", "out.m3u"));
	EXPECT_EQ(Read("out.m3u"), Nl("\n"));
}

// Text mode: on Windows CR LF reads as a line feed, 0x1A ends the input and
// every line feed written becomes CR LF; elsewhere bytes are not translated.
TEST_F(EndToEnd, LineEndsFollowTheTextMode)
{
	const string input = "a\\b\r\nc\nd\re\r\n#f\x1Ag\r\nh\r\n";
	const string expected = crlf ? "./a/b\r\n./c\r\n./d\re\r\n#f\r\n"
	                             : "./a/b\n./c\n./d\re\n#f\x1Ag\n./h\n\n";
	Write("in.m3u", input);
	Write("list.m3u", input);

	Expect({"in.m3u", "out.m3u"}, 0, Said("in.m3u", "out.m3u"));
	EXPECT_EQ(Read("out.m3u"), expected);
	Expect({"list.m3u"}, 0, Said(kTemp, "list.m3u"));
	EXPECT_EQ(Read("list.m3u"), expected);
	EXPECT_EQ(Read("in.m3u"), input);
}

TEST_F(EndToEnd, OverlongLinesComeOutWholeAndRewrittenOnce)
{
	string entry, comment = "#";
	for (int i = 0; i < 1500; i++) {
		entry += "dir\\";
		comment += "c\\ ";
	}
	Write("long.m3u", entry + "x.mp3   \r\n" + comment + "\r\n");
	string expected_entry = "./";
	for (int i = 0; i < 1500; i++)
		expected_entry += "dir/";
	string expected = expected_entry + "x.mp3\n" + comment.substr(0, comment.size() - 1) + "\n\n";

	Expect({"long.m3u", "out.m3u"}, 0, Said("long.m3u", "out.m3u"));
	EXPECT_EQ(Read("out.m3u"), Nl(expected));
	Expect({"long.m3u"}, 0, Said(kTemp, "long.m3u"));
	EXPECT_EQ(Read("long.m3u"), Nl(expected));
}

TEST_F(EndToEnd, Utf8MarkStaysAtTheStart)
{
	const string mark = "\xEF\xBB\xBF";
	Write("header.m3u", mark + "#EXTM3U\r\nMusic\\a.mp3\r\n");
	Write("entry.m3u", mark + "Music\\a.mp3\r\n" + mark + "b\r\n");

	Expect({"header.m3u"}, 0, Said(kTemp, "header.m3u"));
	EXPECT_EQ(Read("header.m3u"), Nl(mark + "#EXTM3U\n./Music/a.mp3\n\n"));
	Expect({"entry.m3u", "out.m3u"}, 0, Said("entry.m3u", "out.m3u"));
	EXPECT_EQ(Read("out.m3u"), Nl(mark + "./Music/a.mp3\n./" + mark + "b\n\n"));
}

TEST_F(EndToEnd, Utf16PlaylistIsRefusedUntouched)
{
	const string little = string("\xFF\xFE#\0E\0\r\0\n\0a\0\\\0b\0", 16);
	const string big = string("\xFE\xFF\0#\0E", 6);
	const string message = "The input file is UTF-16; save it as UTF-8 or ANSI first.";
	Write("little.m3u", little);
	Write("big.m3u", big);
	Write("out.m3u", "keep me");

	Expect({"little.m3u"}, 1, Said(kTemp, "little.m3u", message));
	Expect({"big.m3u"}, 1, Said(kTemp, "big.m3u", message));
	Expect({"little.m3u", "out.m3u"}, 1, Said("little.m3u", "out.m3u", message));
	Expect({"big.m3u", "new.m3u"}, 1, Said("big.m3u", "new.m3u", message));
	EXPECT_EQ(Read("little.m3u"), little);
	EXPECT_EQ(Read("big.m3u"), big);
	EXPECT_EQ(Read("out.m3u"), "keep me");
	EXPECT_EQ(Files(), (Names{"big.m3u", "little.m3u", "out.m3u"}));
}

TEST_F(EndToEnd, MissingInputIsReported)
{
	Expect({"none.m3u"}, 1, Said(kTemp, "none.m3u", "Unable to open input file."));
	Expect({"none.m3u", "out.m3u"}, 1,
	       Said("none.m3u", "out.m3u", "Unable to open input file."));
	EXPECT_EQ(Files(), Names{});
}

TEST_F(EndToEnd, OutputThatCannotBeCreatedIsReported)
{
	Write("in.m3u", kWindowsList);
	Expect({"in.m3u", "no/such/dir.m3u"}, 2,
	       Said("in.m3u", "no/such/dir.m3u", "Unable to open output file."));
	EXPECT_EQ(Read("in.m3u"), kWindowsList);
	EXPECT_EQ(Files(), Names{"in.m3u"});
}

// A path through five folders of 55 characters each, 20 more for the file.
string DeepFolder(int depth)
{
	string folder;
	for (int i = 0; i < depth; i++)
		folder += string(55, static_cast<char>('a' + i)) + "/";
	return folder;
}

// Names as long as the system takes them work; longer ones touch nothing.
// Windows takes paths under 260 characters (MAX_PATH), Linux under 4096.
TEST_F(EndToEnd, LongNamesWorkAndTooLongNamesTouchNothing)
{
	const string folder = DeepFolder(Emulated() ? 4 : 5);
	fs::create_directories(At(folder));
	const string name = folder + string(20, 'p') + ".m3u";
	const string output = folder + "out.m3u";
	ASSERT_GT(name.size(), Emulated() ? 240u : 300u);
	Write(name, kWindowsList);

	Expect({name, output}, 0, Said(name, output));
	EXPECT_EQ(Read(output), Nl(kUnixList));
	Expect({name}, 0, Said(kTemp, name));
	EXPECT_EQ(Read(name), Nl(kUnixList));
	EXPECT_FALSE(fs::exists(At(kTemp)));

	if (Emulated()) {
		// Past MAX_PATH: refused, and the playlist stays as it was.
		const string deeper = DeepFolder(5) + "list.m3u";
		fs::create_directories(At(DeepFolder(5)));
		Write(deeper, kWindowsList);
		Expect({deeper}, 1, Said(kTemp, deeper, "Unable to open input file."));
		EXPECT_EQ(Read(deeper), kWindowsList);
		EXPECT_FALSE(fs::exists(At(kTemp)));
		return;
	}
	const string huge(5000, 'n');	// past what Linux takes
	Write("in.m3u", "x");
	Expect({huge}, 1, Nl(kBanner + "Unable to open input file.\n"));
	Expect({huge, "out.m3u"}, 1, Nl(kBanner + "Unable to open input file.\n"));
	Expect({"in.m3u", huge}, 2, Nl(kBanner + "Unable to open output file.\n"));
	EXPECT_EQ(Read("in.m3u"), "x");
	EXPECT_FALSE(fs::exists(At("out.m3u")));
	EXPECT_FALSE(fs::exists(At(kTemp)));
}

TEST_F(EndToEnd, StaleTemporaryFileIsNeverUsed)
{
	const string stale = "somebody's file";
	const string message = "A file named \"~tandrel-temp.m3u\" is in the way here; "
	                       "move it away and try again.";
	Write("list.m3u", kWindowsList);
	Write(kTemp, stale);

	Expect({"list.m3u"}, 1, Said(kTemp, "list.m3u", message));
	Expect({kTemp}, 1, Said(kTemp, kTemp, message));
	EXPECT_EQ(Read("list.m3u"), kWindowsList);
	EXPECT_EQ(Read(kTemp), stale);
	EXPECT_EQ(Files(), (Names{"list.m3u", kTemp}));

	fs::remove(At(kTemp));
	fs::create_directory(At(kTemp));
	Expect({"list.m3u"}, 1, Said(kTemp, "list.m3u", message));
	fs::remove(At(kTemp));
	// Wine looks through a UNIX link to nowhere and finds no file; Windows
	// itself has no such links.
	if (!Emulated()) {
		fs::create_symlink("nowhere", At(kTemp));
		Expect({"list.m3u"}, 1, Said(kTemp, "list.m3u", message));
	}
	EXPECT_EQ(Read("list.m3u"), kWindowsList);
}

TEST_F(EndToEnd, InPlaceTakesOnlyRegularFiles)
{
	fs::create_directory(At("folder.m3u"));
	ASSERT_EQ(mkfifo(At("fifo.m3u").c_str(), 0644), 0);
	const Names before = Files();

	for (const string &name : {string("folder.m3u"), string("fifo.m3u"), string("/dev/null")})
		Expect({name}, 1, Said(kTemp, name, "Unable to open input file."));
	EXPECT_EQ(Files(), before);
}

TEST_F(EndToEnd, RenameAcrossFileSystemsTouchesNothing)
{
	struct stat here, there;
	char pattern[] = "/dev/shm/tandrel-e2e-XXXXXX";
	if (stat(work_.c_str(), &here) != 0 || mkdtemp(pattern) == nullptr ||
	    stat(pattern, &there) != 0)
		GTEST_SKIP() << "no second file system at /dev/shm";
	const fs::path playlist = fs::path(pattern) / "list.m3u";
	std::ofstream(playlist, std::ios::binary) << kWindowsList;
	if (here.st_dev == there.st_dev) {
		fs::remove_all(pattern);
		GTEST_SKIP() << "/dev/shm is on the same file system";
	}

	Expect({playlist.string()}, 1,
	       Said(kTemp, playlist.string(), "Unable to open input file."));
	EXPECT_EQ(Slurp(playlist), kWindowsList);
	EXPECT_EQ(Files(), Names{});
	fs::remove_all(pattern);
}

TEST_F(EndToEnd, RenameWithoutPermissionTouchesNothing)
{
	if (Emulated())
		GTEST_SKIP() << "the emulator's prefix belongs to its own user";
	Write("list.m3u", kWindowsList);
	chmod(scratch_.c_str(), 0755);
	chmod(work_.c_str(), 0555);
	Limits nobody;
	nobody.as_nobody = true;

	Expect({"list.m3u"}, 1, Said(kTemp, "list.m3u", "Unable to open input file."),
	       nobody);
	chmod(work_.c_str(), 0755);
	EXPECT_EQ(Read("list.m3u"), kWindowsList);
	EXPECT_EQ(Files(), Names{"list.m3u"});
}

// An in-place run that cannot open or finish its output puts the original
// back under its own name and leaves no temporary file.
TEST_F(EndToEnd, InPlaceFailuresPutThePlaylistBack)
{
	struct Case {
		const char *why;
		Limits limits;
		const char *message;
	};
	Limits three_files;	// standard input, output and error, and the input
	three_files.open_files = 4;
	Limits one_kilobyte;	// SIGXFSZ ignored: writes past it fail
	one_kilobyte.file_size = 1024;
	string big;
	while (big.size() < 8192)
		big += kWindowsList;

	for (const Case &test : {Case{"no file left to open", three_files,
	                              "Unable to open output file."},
	                         Case{"file size limit", one_kilobyte,
	                              "Unable to write output file."}}) {
		// An emulator itself needs more open files than that.
		if (Emulated() && test.limits.open_files != RLIM_INFINITY)
			continue;
		Write("list.m3u", big, 0600);
		// Wine's server, started by a run without the limit, outlives
		// it by seconds: the limit then reaches only the program.
		if (Emulated())
			Run({});
		Expect({"list.m3u"}, 2, Said(kTemp, "list.m3u", test.message),
		       test.limits);
		EXPECT_EQ(Read("list.m3u"), big) << test.why;
		EXPECT_EQ(Files(), Names{"list.m3u"}) << test.why;
	}
}

TEST_F(EndToEnd, WriteFailureKeepsTheInput)
{
	if (!fs::exists("/dev/full"))
		GTEST_SKIP() << "no /dev/full";
	Write("in.m3u", kWindowsList);
	Expect({"in.m3u", "/dev/full"}, 2,
	       Said("in.m3u", "/dev/full", "Unable to write output file."));
	EXPECT_EQ(Read("in.m3u"), kWindowsList);
}

TEST_F(EndToEnd, ReadFailureIsNotEndOfFile)
{
	if (Emulated())
		GTEST_SKIP() << "the emulated C library refuses to open a folder";
	fs::create_directory(At("folder.m3u"));
	Expect({"folder.m3u", "out.m3u"}, 1,
	       Said("folder.m3u", "out.m3u", "Unable to read input file."));
	EXPECT_TRUE(fs::is_directory(At("folder.m3u")));
}

TEST_F(EndToEnd, SameFileTwiceIsRefused)
{
	Write("a.m3u", kWindowsList);
	fs::create_directory(At("sub"));
	fs::create_hard_link(At("a.m3u"), At("hard.m3u"));
	const string message = "Input and output are the same file.";
	std::vector<std::pair<string, string>> pairs = {
		{"a.m3u", "a.m3u"}, {"./a.m3u", "a.m3u"}, {"a.m3u", "sub/../a.m3u"},
		{"hard.m3u", "a.m3u"}};
	fs::create_symlink("a.m3u", At("link.m3u"));
	pairs.push_back({"a.m3u", "link.m3u"});
	pairs.push_back({"link.m3u", "a.m3u"});

	for (const auto &pair : pairs) {
		Expect({pair.first, pair.second}, 2, Said(pair.first, pair.second, message));
		EXPECT_EQ(Read("a.m3u"), kWindowsList) << pair.first << " " << pair.second;
	}
}

TEST_F(EndToEnd, InPlaceKeepsPermissionBits)
{
	if (Emulated())
		GTEST_SKIP() << "Windows has no permission bits to keep";
	for (mode_t mode : {0600, 0640, 0604}) {
		Write("list.m3u", kWindowsList, mode);
		Expect({"list.m3u"}, 0, Said(kTemp, "list.m3u"));
		struct stat status;
		ASSERT_EQ(stat(At("list.m3u").c_str(), &status), 0);
		EXPECT_EQ(status.st_mode & 0777, mode);
		EXPECT_EQ(Read("list.m3u"), Nl(kUnixList));
	}
}

}  // namespace

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	for (int i = 1; i < argc; i++) {
		string arg = argv[i];
		if (arg.rfind("--program=", 0) == 0)
			program = arg.substr(10);
		else if (arg.rfind("--launcher=", 0) == 0)
			launcher.push_back(arg.substr(11));
		else if (arg == "--crlf")
			crlf = true;
	}
	return RUN_ALL_TESTS();
}
