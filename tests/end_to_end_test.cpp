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
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using std::string;

namespace {

using Names = std::vector<string>;

struct Outcome {
	int status;
	string out;
	string err;
};

struct Options {
	rlim_t file_size = RLIM_INFINITY;
	rlim_t open_files = RLIM_INFINITY;
	bool as_nobody = false;	// when run by root, which no permission stops
	gid_t also_in = 0;	// a group nobody is made a member of, if not 0
	bool closed_stdout = false;	// standard output a pipe nobody reads
	bool closed_stdin = false;
	bool ignore_hangup = false;	// as nohup starts it
	const char *input = nullptr;	// standard input: these bytes, piped
	std::vector<string> faults;	// strace arguments that inject faults
	string folder;	// where it runs, below the work folder
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

// Copies of the Windows playlist, and what a run makes of them.
string Copies(size_t count)
{
	string list;
	list.reserve(count * kWindowsList.size());
	while (count-- > 0)
		list += kWindowsList;
	return list;
}

string ConvertedCopies(size_t count)
{
	const string lines = kUnixList.substr(0, kUnixList.size() - 1);
	string list;
	list.reserve(count * lines.size() + 1);
	while (count-- > 0)
		list += lines;
	return list + "\n";
}

// Enough bytes that a run can be caught in the middle.
const size_t kBigCopies = 300000;

const string &BigList()
{
	static const string big = Copies(kBigCopies);
	return big;
}

// strace runs here and may trace its child.
bool Traces()
{
	static const bool traces =
		system("strace -qq -o /dev/null true >/dev/null 2>&1") == 0;
	return traces;
}

// How an interrupted program ends: killed by the signal, or under Wine with
// the low byte of Windows' STATUS_CONTROL_C_EXIT.
int InterruptedStatus(int signal_number)
{
	return Emulated() ? 0x3A : 128 + signal_number;
}

const char kUnableInput[] = "Unable to open input file.";
const char kUnableOutput[] = "Unable to open output file.";
const char kUnableWrite[] = "Unable to write output file.";
const char kKeptAsTemp[] = " The original playlist is now \"~tandrel-temp.m3u\".";

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
		for (const auto &started : run_of_) {	// left by a failed check
			kill(started.first, SIGKILL);
			waitpid(started.first, nullptr, 0);
		}
		std::error_code ignored;
		fs::remove_all(scratch_, ignored);
	}

	fs::path At(const string &name) const { return work_ / name; }

	// A failure here is the test's own, and says so.
	void Write(const string &name, const string &bytes, mode_t mode = 0644)
	{
		fs::path path = At(name);
		std::ofstream file(path, std::ios::binary);
		file << bytes;
		file.close();
		ASSERT_TRUE(file.good()) << "cannot write " << path;
		ASSERT_EQ(chmod(path.c_str(), mode), 0) << "cannot chmod " << path;
	}

	// Every name below the work folder, with what it is and holds.
	Names Snapshot() const
	{
		Names seen;
		for (const auto &entry : fs::recursive_directory_iterator(work_)) {
			const fs::path path = entry.path();
			string line = path.lexically_relative(work_).string() + ": ";
			if (fs::is_symlink(entry.symlink_status()))
				line += "link to " + fs::read_symlink(path).string();
			else if (entry.is_regular_file())
				line += "file holding " + Slurp(path);
			else
				line += entry.is_directory() ? "folder" : "special";
			seen.push_back(line);
		}
		std::sort(seen.begin(), seen.end());
		return seen;
	}

	void RemoveAll()
	{
		for (const auto &entry : fs::directory_iterator(work_))
			fs::remove_all(entry.path());
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

	// Starts the program as a user would: signals at their defaults and
	// none blocked, whatever the test runner set.
	pid_t Start(const std::vector<string> &args, const Options &options = Options())
	{
		const string run = std::to_string(runs_++);
		fs::path out = scratch_ / ("stdout" + run), err = scratch_ / ("stderr" + run);
		std::vector<string> words;
		if (!options.faults.empty())
			words = {"strace", "-f", "-qq", "-o", "/dev/null"};
		words.insert(words.end(), options.faults.begin(), options.faults.end());
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
			Child(out, err, options);
			execvp(argv[0], argv.data());
			_exit(127);
		}
		run_of_[child] = run;
		return child;
	}

	void Child(const fs::path &out, const fs::path &err, const Options &options)
	{
		int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		int in_fd = open("/dev/null", O_RDONLY);
		int pipe_fds[2];
		if (options.input != nullptr || options.closed_stdout) {
			if (pipe(pipe_fds) != 0)
				_exit(126);
			if (options.input != nullptr) {	// small: fits the pipe
				size_t size = strlen(options.input);
				if (write(pipe_fds[1], options.input, size) != static_cast<ssize_t>(size))
					_exit(126);
				in_fd = pipe_fds[0];
			} else {
				out_fd = pipe_fds[1];
			}
			close(options.input != nullptr ? pipe_fds[1] : pipe_fds[0]);
		}
		const fs::path folder = work_ / options.folder;
		if (out_fd < 0 || err_fd < 0 || in_fd < 0 || dup2(in_fd, 0) < 0 ||
		    dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0 || chdir(folder.c_str()) != 0)
			_exit(126);
		closefrom(3);
		if (options.closed_stdin)
			close(0);
		umask(022);
		sigset_t none;
		sigemptyset(&none);
		sigprocmask(SIG_SETMASK, &none, nullptr);
		for (int signal_number : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGXFSZ})
			signal(signal_number, SIG_DFL);
		if (options.ignore_hangup)
			signal(SIGHUP, SIG_IGN);
		// Windows has no SIGXFSZ: under Wine a file size limit would end
		// the emulator, where Windows would fail the write.
		if (Emulated())
			signal(SIGXFSZ, SIG_IGN);
		struct rlimit size = {options.file_size, options.file_size};
		struct rlimit files = {options.open_files, options.open_files};
		struct rlimit no_core = {0, 0};
		if (setrlimit(RLIMIT_FSIZE, &size) != 0 || setrlimit(RLIMIT_CORE, &no_core) != 0 ||
		    (options.open_files != RLIM_INFINITY && setrlimit(RLIMIT_NOFILE, &files) != 0))
			_exit(126);
		if (!options.faults.empty()) {	// LeakSanitizer cannot work under strace
			const char *asan = getenv("ASAN_OPTIONS");
			string settings = (asan != nullptr ? string(asan) + ":" : "") + "detect_leaks=0";
			setenv("ASAN_OPTIONS", settings.c_str(), 1);
		}
		if (options.as_nobody && getuid() == 0 &&
		    (setgroups(options.also_in != 0 ? 1 : 0, &options.also_in) != 0 ||
		     setgid(65534) != 0 || setuid(65534) != 0))
			_exit(126);
	}

	// Waits for a started run to end; strace's own notes are not the
	// program's.
	Outcome Finish(pid_t child)
	{
		int status = 0;
		waitpid(child, &status, 0);
		Outcome outcome;
		outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
		const string run = run_of_[child];
		run_of_.erase(child);
		outcome.out = Slurp(scratch_ / ("stdout" + run));
		std::istringstream err(Slurp(scratch_ / ("stderr" + run)));
		for (string line; std::getline(err, line);) {
			if (line.rfind("strace: ", 0) != 0)
				outcome.err += line + "\n";
		}
		return outcome;
	}

	Outcome Run(const std::vector<string> &args, const Options &options = Options())
	{
		return Finish(Start(args, options));
	}

	// Until ready says so, while the run goes on; false if it ended first.
	template <typename Ready>
	bool WaitWhileRunning(pid_t child, Ready ready)
	{
		for (;;) {
			if (ready())
				return true;
			siginfo_t info = {};
			if (waitid(P_PID, child, &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
			    info.si_pid == child)
				return false;
		}
	}

	// Lets a run go on until every file named holds bytes, then stops it: a
	// run caught in the middle, whatever the machine's speed.
	void StopOnceWritten(pid_t child, const Names &names)
	{
		ASSERT_TRUE(WaitWhileRunning(child, [&] {
			for (const string &name : names) {
				std::error_code missing;
				if (fs::file_size(At(name), missing) == 0 || missing)
					return false;
			}
			return true;
		})) << "the run ended before " << names.back() << " held anything";
		kill(child, SIGSTOP);
		int status;
		ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
		ASSERT_TRUE(WIFSTOPPED(status));
	}

	// Runs and checks status, standard output and an empty standard error.
	void Expect(const std::vector<string> &args, int status,
	            const string &out, const Options &options = Options())
	{
		Outcome outcome = Run(args, options);
		EXPECT_EQ(outcome.status, status);
		EXPECT_EQ(outcome.out, out);
		EXPECT_EQ(outcome.err, "");
	}

	// Whether the program that strace started has the file open.
	static bool HasOpen(pid_t strace, const fs::path &file)
	{
		const string task = std::to_string(strace);
		std::ifstream children("/proc/" + task + "/task/" + task + "/children");
		pid_t program = 0;
		if (!(children >> program))
			return false;
		for (int fd = 3; fd < 10; fd++) {
			std::error_code gone;
			fs::path path = "/proc/" + std::to_string(program) + "/fd/" + std::to_string(fd);
			if (fs::read_symlink(path, gone) == file)
				return true;
		}
		return false;
	}

	string program_;
	fs::path scratch_;
	fs::path work_;
	int runs_ = 0;
	std::map<pid_t, string> run_of_;	// where each run's output goes
};

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
	if (Emulated())
		return;	// /dev/stdin is a UNIX name
	Options piped;
	piped.input = kWindowsList.c_str();
	Expect({"/dev/stdin", "piped.m3u"}, 0, Said("/dev/stdin", "piped.m3u"), piped);
	EXPECT_EQ(Read("piped.m3u"), kUnixList);
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

// What a refused run finds before it. Link and hard link hold the name
// they lead to.
enum Kind { kFile, kFolder, kFifo, kLink, kHardLink };

struct Found {
	string name;
	Kind kind;
	string holds;
};

// A run refused leaves every file as it found it, and makes none.
TEST_F(EndToEnd, RefusedRunsTouchNothing)
{
	struct Case {
		const char *why;
		std::vector<Found> before;
		Names args;
		int status;
		string message;
		bool native_only = false;	// the emulator cannot show it
		const char *input = nullptr;	// piped to standard input
	};
	const string little = string("\xFF\xFE#\0E\0\r\0\n\0a\0\\\0b\0", 16);
	const string big = string("\xFE\xFF\0#\0E", 6);
	const string utf16 = "The input file is UTF-16; save it as UTF-8 or ANSI first.";
	const string stale = "A file named \"~tandrel-temp.m3u\" is in the way here. "
	                     "It may be a playlist left by an interrupted run: look at "
	                     "it, give it back its name or move it away, then try again.";
	const string same = "Input and output are the same file.";
	const Found list = {"list.m3u", kFile, kWindowsList}, out = {"out.m3u", kFile, "keep me"};
	const Found a = {"a.m3u", kFile, kWindowsList};
	const Case cases[] = {
		{"missing input", {}, {"none.m3u"}, 1, kUnableInput},
		{"missing input", {}, {"none.m3u", "out.m3u"}, 1, kUnableInput},
		{"output in no folder", {list}, {"list.m3u", "no/such/dir.m3u"}, 2, kUnableOutput},
		{"UTF-16", {{"little.m3u", kFile, little}}, {"little.m3u"}, 1, utf16},
		{"UTF-16", {{"big.m3u", kFile, big}}, {"big.m3u"}, 1, utf16},
		{"UTF-16", {{"little.m3u", kFile, little}, out}, {"little.m3u", "out.m3u"}, 1, utf16},
		{"UTF-16", {{"big.m3u", kFile, big}}, {"big.m3u", "new.m3u"}, 1, utf16},
		// /dev/stdin is a UNIX name.
		{"UTF-16 piped", {out}, {"/dev/stdin", "out.m3u"}, 1, utf16, true, "\xFF\xFE#\x01"},
		{"UTF-16 piped", {}, {"/dev/stdin", "new.m3u"}, 1, utf16, true, "\xFF\xFE#\x01"},
		{"stale file", {list, {kTemp, kFile, "somebody's file"}}, {"list.m3u"}, 1, stale},
		{"stale file", {{kTemp, kFile, "somebody's file"}}, {kTemp}, 1, stale},
		{"stale folder", {list, {kTemp, kFolder, ""}}, {"list.m3u"}, 1, stale},
		// Wine looks through a UNIX link to nowhere and finds no file;
		// Windows itself has no such links.
		{"stale link", {list, {kTemp, kLink, "nowhere"}}, {"list.m3u"}, 1, stale, true},
		{"folder", {{"folder.m3u", kFolder, ""}}, {"folder.m3u"}, 1, kUnableInput},
		{"fifo", {{"fifo.m3u", kFifo, ""}}, {"fifo.m3u"}, 1, kUnableInput},
		{"device", {}, {"/dev/null"}, 1, kUnableInput},
		{"same name", {a}, {"a.m3u", "a.m3u"}, 2, same},
		{"same file", {a}, {"./a.m3u", "a.m3u"}, 2, same},
		{"same file", {a, {"sub", kFolder, ""}}, {"a.m3u", "sub/../a.m3u"}, 2, same},
		{"hard link", {a, {"hard.m3u", kHardLink, "a.m3u"}}, {"hard.m3u", "a.m3u"}, 2, same},
		{"link", {a, {"link.m3u", kLink, "a.m3u"}}, {"a.m3u", "link.m3u"}, 2, same},
		{"link", {a, {"link.m3u", kLink, "a.m3u"}}, {"link.m3u", "a.m3u"}, 2, same},
		{"full disk", {list}, {"list.m3u", "/dev/full"}, 2, kUnableWrite},
		// Wine's C library refuses to open a folder at all.
		{"folder read", {{"folder.m3u", kFolder, ""}, out}, {"folder.m3u", "out.m3u"}, 1,
		 "Unable to read input file.", true},
	};

	for (const Case &test : cases) {
		if (test.native_only && Emulated())
			continue;
		RemoveAll();
		for (const Found &found : test.before) {
			const fs::path path = At(found.name);
			if (found.kind == kFile)
				Write(found.name, found.holds);
			else if (found.kind == kFolder)
				fs::create_directory(path);
			else if (found.kind == kFifo)
				ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
			else if (found.kind == kLink)
				fs::create_symlink(found.holds, path);
			else
				fs::create_hard_link(At(found.holds), path);
		}
		const Names before = Snapshot();
		Options options;
		options.input = test.input;
		const string &from = test.args.size() == 1 ? kTemp : test.args[0];
		const Outcome outcome = Run(test.args, options);
		EXPECT_EQ(outcome.status, test.status) << test.why;
		EXPECT_EQ(outcome.out, Said(from, test.args.back(), test.message)) << test.why;
		EXPECT_EQ(outcome.err, "") << test.why;
		EXPECT_EQ(Snapshot(), before) << test.why;
	}
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
	// The longest name Linux takes, 4095 bytes, works; one byte more is
	// refused, even where the name cut to 4095 bytes leads to a file.
	string longest;
	while (longest.size() < 4088)
		longest += "./";
	longest += "iin.m3u";
	Write("iin.m3u", kWindowsList);
	Expect({longest, "out.m3u"}, 0, Said(longest, "out.m3u"));
	EXPECT_EQ(Read("out.m3u"), Nl(kUnixList));
	Expect({"out.m3u", longest}, 0, Said("out.m3u", longest));
	Expect({longest}, 0, Said(kTemp, longest));
	EXPECT_EQ(Read("iin.m3u"), Nl(kUnixList + "\n\n"));
	Expect({longest + "x", "new.m3u"}, 1, Said(longest + "x", "new.m3u", kUnableInput));
	Expect({"iin.m3u", longest + "x"}, 2, Said("iin.m3u", longest + "x", kUnableOutput));
	fs::remove(At("iin.m3u"));
	fs::remove(At("out.m3u"));

	// Past what Linux takes: refused, and checked in the order of the run,
	// input first.
	const string huge(5000, 'n');
	Write("in.m3u", "x");
	Expect({huge}, 1, Said(kTemp, huge, kUnableInput));
	Expect({huge, "out.m3u"}, 1, Said(huge, "out.m3u", kUnableInput));
	Expect({"in.m3u", huge}, 2, Said("in.m3u", huge, kUnableOutput));
	Expect({"none.m3u", huge}, 1, Said("none.m3u", huge, kUnableInput));
	EXPECT_EQ(Read("in.m3u"), "x");
	EXPECT_FALSE(fs::exists(At("out.m3u")));
	EXPECT_FALSE(fs::exists(At(kTemp)));
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
	Options nobody;
	nobody.as_nobody = true;

	Expect({"list.m3u"}, 1, Said(kTemp, "list.m3u", "Unable to open input file."),
	       nobody);
	chmod(work_.c_str(), 0755);
	EXPECT_EQ(Read("list.m3u"), kWindowsList);
	EXPECT_EQ(Files(), Names{"list.m3u"});
	if (getuid() != 0)
		return;	// only root can start a run in a folder it cannot search

	// A current folder that cannot even be searched hides no file in the
	// way: the rename is what fails.
	const fs::path shared = scratch_ / "shared", playlist = shared / "list.m3u";
	fs::create_directory(shared);
	std::ofstream(playlist, std::ios::binary) << kWindowsList;
	chmod(shared.c_str(), 0777);
	chmod(playlist.c_str(), 0666);
	chmod(work_.c_str(), 0700);
	Expect({playlist.string()}, 1, Said(kTemp, playlist.string(), kUnableInput), nobody);
	chmod(work_.c_str(), 0755);
	EXPECT_EQ(Slurp(playlist), kWindowsList);
	EXPECT_EQ(Files(), Names{"list.m3u"});
}

// An in-place run that cannot open or finish its output puts the original
// back under its own name and leaves no temporary file.
TEST_F(EndToEnd, InPlaceFailuresPutThePlaylistBack)
{
	struct Case {
		const char *why;
		Options options;
		const char *message;
	};
	Options three_files;	// standard input, output and error, and the input
	three_files.open_files = 4;
	Options one_kilobyte;	// SIGXFSZ at its default, as users have it
	one_kilobyte.file_size = 1024;
	string big;
	while (big.size() < 8192)
		big += kWindowsList;

	for (const Case &test : {Case{"no file left to open", three_files,
	                              "Unable to open output file."},
	                         Case{"file size limit", one_kilobyte,
	                              "Unable to write output file."}}) {
		// An emulator itself needs more open files than that.
		if (Emulated() && test.options.open_files != RLIM_INFINITY)
			continue;
		Write("list.m3u", big, 0600);
		// Wine's server, started by a run without the limit, outlives
		// it by seconds: the limit then reaches only the program.
		if (Emulated())
			Run({});
		Expect({"list.m3u"}, 2, Said(kTemp, "list.m3u", test.message),
		       test.options);
		EXPECT_EQ(Read("list.m3u"), big) << test.why;
		EXPECT_EQ(Files(), Names{"list.m3u"}) << test.why;
	}
}

// Run by root on somebody else's playlist, an in-place run keeps owner,
// group, permission, set-id and sticky bits; anyone keeps their own.
TEST_F(EndToEnd, InPlaceKeepsOwnerAndPermissionBits)
{
	if (Emulated())
		GTEST_SKIP() << "Windows has no permission bits to keep";
	struct Keep {
		mode_t mode;
		uid_t owner;
		gid_t group;
	};
	std::vector<Keep> keeps = {{0600, getuid(), getgid()}, {0604, getuid(), getgid()},
	                           {02750, getuid(), getgid()}};
	if (getuid() == 0)
		keeps.insert(keeps.end(), {{0640, 65534, 65534}, {04755, 65534, 65534},
		                           {01644, 65534, 0}});
	for (const Keep &keep : keeps) {
		Write("list.m3u", kWindowsList);
		ASSERT_EQ(chown(At("list.m3u").c_str(), keep.owner, keep.group), 0);
		ASSERT_EQ(chmod(At("list.m3u").c_str(), keep.mode), 0);
		Expect({"list.m3u"}, 0, Said(kTemp, "list.m3u"));
		struct stat status;
		ASSERT_EQ(stat(At("list.m3u").c_str(), &status), 0);
		EXPECT_EQ(status.st_mode & 07777, keep.mode);
		EXPECT_EQ(status.st_uid, keep.owner);
		EXPECT_EQ(status.st_gid, keep.group);
		EXPECT_EQ(Read("list.m3u"), Nl(kUnixList));
	}
	if (getuid() != 0)
		return;	// only root can stage another user

	// Anyone else keeps the playlist's group where it is one of theirs.
	chmod(scratch_.c_str(), 0755);
	chmod(work_.c_str(), 0777);
	Write("list.m3u", kWindowsList, 0664);
	ASSERT_EQ(chown(At("list.m3u").c_str(), 0, 100), 0);
	Options member;
	member.as_nobody = true;
	member.also_in = 100;
	Expect({"list.m3u"}, 0, Said(kTemp, "list.m3u"), member);
	struct stat status;
	ASSERT_EQ(stat(At("list.m3u").c_str(), &status), 0);
	EXPECT_EQ(status.st_uid, 65534u);
	EXPECT_EQ(status.st_gid, 100u);
	EXPECT_EQ(status.st_mode & 07777, 0664u);
}

// Ctrl-C, kill or a closed terminal in the middle of an in-place run: the
// playlist is back under its name before the process ends as the signal
// ends it, and what it said is out. A two-file run leaves its input alone.
TEST_F(EndToEnd, InterruptedRunsLeaveThePlaylistWhole)
{
	const string &big = BigList();
	std::vector<int> signals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
	if (Emulated())	// Wine makes a console event of SIGINT alone
		signals = {SIGINT};
	for (int signal_number : signals) {
		Write("list.m3u", big);
		pid_t child = Start({"list.m3u"});
		StopOnceWritten(child, {kTemp, "list.m3u"});
		ASSERT_LT(fs::file_size(At("list.m3u")), big.size()) << "not caught midway";
		kill(child, signal_number);
		kill(child, SIGCONT);
		Outcome outcome = Finish(child);
		EXPECT_EQ(outcome.status, InterruptedStatus(signal_number));
		EXPECT_EQ(outcome.out, Said(kTemp, "list.m3u"));
		EXPECT_TRUE(Read("list.m3u") == big) << strsignal(signal_number);
		EXPECT_EQ(Files(), Names{"list.m3u"}) << strsignal(signal_number);
	}
	pid_t child = Start({"list.m3u", "out.m3u"});
	StopOnceWritten(child, {"out.m3u"});
	kill(child, SIGINT);
	kill(child, SIGCONT);
	EXPECT_EQ(Finish(child).status, InterruptedStatus(SIGINT));
	EXPECT_TRUE(Read("list.m3u") == big);

	// A signal ignored from the start (nohup) stays ignored.
	if (!Emulated()) {
		Write("list.m3u", big);
		Options nohup;
		nohup.ignore_hangup = true;
		child = Start({"list.m3u"}, nohup);
		StopOnceWritten(child, {kTemp, "list.m3u"});
		kill(child, SIGHUP);
		kill(child, SIGCONT);
		EXPECT_EQ(Finish(child).status, 0);
		EXPECT_TRUE(Read("list.m3u") == Nl(ConvertedCopies(kBigCopies)));
	}

	// A new file removed midway is no complete new playlist: the original
	// goes back when the run ends.
	Write("list.m3u", big);
	child = Start({"list.m3u"});
	StopOnceWritten(child, {kTemp, "list.m3u"});
	fs::remove(At("list.m3u"));
	kill(child, SIGCONT);
	Outcome removed = Finish(child);
	EXPECT_EQ(removed.status, 2);
	EXPECT_EQ(removed.out, Said(kTemp, "list.m3u", kUnableWrite));
	EXPECT_TRUE(Read("list.m3u") == big);

	// A new file taken away midway is never replaced: the original then
	// stays under the temporary name.
	child = Start({"list.m3u"});
	StopOnceWritten(child, {kTemp, "list.m3u"});
	fs::rename(At("list.m3u"), At("moved.m3u"));
	Write("list.m3u", "somebody's");
	kill(child, SIGINT);
	kill(child, SIGCONT);
	EXPECT_EQ(Finish(child).status, InterruptedStatus(SIGINT));
	EXPECT_EQ(Read("list.m3u"), "somebody's");
	EXPECT_TRUE(Read(kTemp) == big);
}

// A run in another folder (so with another temporary file) while the first
// is midway refuses before it renames anything; the first goes through.
TEST_F(EndToEnd, SecondRunAtOnceRefuses)
{
	Write("list.m3u", BigList());
	fs::create_directory(At("other"));
	pid_t first = Start({"list.m3u"});
	StopOnceWritten(first, {kTemp, "list.m3u"});
	Options elsewhere;
	elsewhere.folder = "other";
	Expect({"../list.m3u"}, 1, Said(kTemp, "../list.m3u",
	       "Another run is converting this playlist; try again when it has finished."),
	       elsewhere);
	kill(first, SIGCONT);
	EXPECT_EQ(Finish(first).status, 0);
	EXPECT_TRUE(Read("list.m3u") == Nl(ConvertedCopies(kBigCopies)));
	EXPECT_EQ(Files(), (Names{"list.m3u", "other"}));
}

TEST_F(EndToEnd, ClosedStandardStreamsNeverStopARun)
{
	Write("list.m3u", kWindowsList);
	Options closed;
	closed.closed_stdout = true;
	EXPECT_EQ(Run({"list.m3u"}, closed).status, 0);
	EXPECT_EQ(Read("list.m3u"), Nl(kUnixList));
	if (Emulated())
		return;	// no /dev/stdout there
	// With standard input closed the playlist opens as descriptor 0.
	Write("list.m3u", kWindowsList);
	Options no_input;
	no_input.closed_stdin = true;
	Expect({"list.m3u"}, 0, Said(kTemp, "list.m3u"), no_input);
	EXPECT_EQ(Read("list.m3u"), kUnixList);
	// The messages are out before the output is opened: standard output
	// as the output ends up holding the playlist, not the banner.
	Write("in.m3u", kWindowsList);
	Expect({"in.m3u", "/dev/stdout"}, 0, kUnixList);
}

// A link stays a link, and what it leads to is converted, wherever the
// run starts; a link to nothing is no playlist.
TEST_F(EndToEnd, InPlaceThroughALinkConvertsWhatItLeadsTo)
{
	if (Emulated())
		GTEST_SKIP() << "UNIX links";
	fs::create_directory(At("d"));
	Write("d/real.m3u", "REAL\\x\r\n");
	fs::create_symlink("real.m3u", At("d/link.m3u"));
	fs::create_symlink("d/link.m3u", At("chain.m3u"));
	Write("real.m3u", "WRONG\\y\r\n");
	fs::create_symlink("nowhere.m3u", At("dangling.m3u"));

	Expect({"d/link.m3u"}, 0, Said(kTemp, "d/link.m3u"));
	Expect({"chain.m3u"}, 0, Said(kTemp, "chain.m3u"));
	Expect({"dangling.m3u"}, 1, Said(kTemp, "dangling.m3u", kUnableInput));
	EXPECT_EQ(fs::read_symlink(At("d/link.m3u")), "real.m3u");
	EXPECT_EQ(Read("d/real.m3u"), "./REAL/x\n\n\n");
	EXPECT_EQ(Read("real.m3u"), "WRONG\\y\r\n");
	EXPECT_EQ(Files(), (Names{"chain.m3u", "d", "dangling.m3u", "real.m3u"}));
}

// Names changed while a run pauses (strace holds one call back two
// seconds): what the run did not make is neither followed, replaced nor
// converted. A link planted where the new file goes leaves the original
// under the temporary name, and the message says so; a playlist swapped
// for another file before the rename is the wrong file, put back where it
// was.
TEST_F(EndToEnd, NamesChangedMidwayAreLeftAlone)
{
	if (Emulated() || !Traces())
		GTEST_SKIP() << "needs strace on a native program";
	struct Case {
		const char *why;
		Names pause;
		std::function<bool(pid_t)> ready;
		std::function<void()> change;
		int status;
		string message;
		Names after;
	};
	const string file = "file holding ";
	const Case cases[] = {
		{"link planted", {"-P", "list.m3u", "-e", "inject=openat:delay_enter=2000000:when=2"},
		 [&](pid_t) { return fs::exists(At(kTemp)); },
		 [&] { fs::create_symlink("victim", At("list.m3u")); }, 2,
		 string(kUnableOutput) + kKeptAsTemp,
		 {"list.m3u: link to victim", "other.m3u: " + file + "swapped in\r\n",
		  "victim: " + file + "not yours", kTemp + ": " + file + kWindowsList}},
		{"playlist swapped", {"-P", kTemp, "-e", "inject=newfstatat,lstat:delay_enter=2000000:when=1"},
		 [&](pid_t child) { return HasOpen(child, At("list.m3u")); },
		 [&] { fs::rename(At("other.m3u"), At("list.m3u")); }, 1, kUnableInput,
		 {"list.m3u: " + file + "swapped in\r\n", "victim: " + file + "not yours"}},
	};

	for (const Case &test : cases) {
		RemoveAll();
		Write("list.m3u", kWindowsList);
		Write("other.m3u", "swapped in\r\n");
		Write("victim", "not yours");
		Options paused;
		paused.faults = test.pause;
		pid_t child = Start({"list.m3u"}, paused);
		ASSERT_TRUE(WaitWhileRunning(child, [&] { return test.ready(child); })) << test.why;
		test.change();
		Outcome outcome = Finish(child);
		EXPECT_EQ(outcome.status, test.status) << test.why;
		EXPECT_EQ(outcome.out, Said(kTemp, "list.m3u", test.message)) << test.why;
		EXPECT_EQ(Snapshot(), test.after) << test.why;
	}
}

// Faults forced on the system calls of an in-place run, as a full disk, a
// file system without permission bits or hard links, or a second run
// would cause them.
TEST_F(EndToEnd, InjectedFaultsLoseNothing)
{
	if (Emulated() || !Traces())
		GTEST_SKIP() << "needs strace on a native program";
	struct Case {
		const char *why;
		Names faults;
		mode_t mode;
		int status;
		string message;
		bool converted;
		bool only_as_temp = false;	// the original under the temporary name alone
	};
	const string temp = At(kTemp).string();
	const string kept = "Unable to remove \"~tandrel-temp.m3u\", which still holds the original playlist.";
	const Case cases[] = {
		{"sync fails", {"-P", "list.m3u", "-e", "inject=fsync:error=EIO"}, 0644, 2, kUnableWrite, false},
		{"close fails", {"-P", "list.m3u", "-e", "inject=close:error=EIO:when=1"}, 0644, 2, kUnableWrite, false},
		{"read fails midway", {"-P", temp, "-e", "inject=read:error=EIO"}, 0644, 1, "Unable to read input file.", false},
		{"name taken", {"-P", "list.m3u", "-e", "inject=openat:error=EEXIST:when=2"}, 0644, 2, kUnableOutput, false},
		{"new file locked", {"-P", "list.m3u", "-e", "inject=flock:error=EAGAIN:when=2"}, 0644, 2, kUnableOutput, false},
		{"playlist locked", {"-P", "list.m3u", "-e", "inject=flock:error=EAGAIN:when=1"}, 0644, 1,
		 "Another run is converting this playlist; try again when it has finished.", false},
		{"no renameat2", {"-e", "inject=renameat2:error=EINVAL"}, 0644, 0, "", true},
		{"no renameat2, no links", {"-e", "inject=renameat2:error=EINVAL", "-e", "inject=link,linkat:error=EPERM"},
		 0644, 1, kUnableInput, false},
		{"no renameat2, link stays", {"-e", "inject=renameat2:error=EINVAL", "-e",
		 "inject=unlink:error=EPERM:when=1"}, 0644, 1, kUnableInput, false},
		{"name taken, no renameat2 or links to put back", {"-P", "list.m3u", "-e",
		 "inject=openat:error=EEXIST:when=2", "-e", "inject=renameat2:error=EINVAL:when=2",
		 "-e", "inject=link,linkat:error=EPERM"}, 0644, 2, string(kUnableOutput) + kKeptAsTemp,
		 false, true},
		{"name taken, link to put back stays", {"-P", "list.m3u", "-P", kTemp, "-e",
		 "inject=openat:error=EEXIST:when=2", "-e", "inject=renameat2:error=EINVAL:when=2",
		 "-e", "inject=unlink:error=EPERM:when=1"}, 0644, 2,
		 string(kUnableOutput) + kKeptAsTemp, false, true},
		{"no bits, the same anyway", {"-e", "inject=fchmod:error=EPERM"}, 0600, 0, "", true},
		{"no bits, different ones", {"-e", "inject=fchmod:error=EPERM"}, 0664, 2, kUnableOutput, false},
		{"owner not kept", {"-e", "inject=fchown:error=EPERM"}, 0640, 0, "", true},
		{"temporary file stays", {"-P", kTemp, "-e", "inject=unlink,unlinkat:error=EACCES"}, 0644, 0, kept, true},
		// Ctrl-C at the steps that change what an interrupt must undo: it
		// waits for the step to be done and recorded, and a message said
		// in that step is out before the signal ends the run.
		{"interrupted at the rename", {"-e", "inject=renameat2:signal=SIGINT"}, 0644,
		 128 + SIGINT, "", false},
		{"interrupted at the creation", {"-P", "list.m3u", "-e",
		 "inject=openat:signal=SIGINT:when=2"}, 0644, 128 + SIGINT, "", false},
		{"interrupted putting back", {"-e", "inject=fsync:error=EIO", "-e",
		 "inject=rename:signal=SIGINT"}, 0644, 128 + SIGINT, kUnableWrite, false},
		{"interrupted putting back midway", {"-e", "inject=fchmod:error=EPERM", "-e",
		 "inject=rename:signal=SIGINT"}, 0664, 128 + SIGINT, kUnableOutput, false},
		{"interrupted while syncing", {"-e", "inject=fsync:signal=SIGINT"}, 0644,
		 128 + SIGINT, "", true},
		{"interrupted, temporary file left", {"-P", kTemp, "-e",
		 "inject=unlink,unlinkat:error=EACCES:signal=SIGINT"}, 0644, 128 + SIGINT, kept, true},
	};
	const size_t copies = 10000;	// past the first read, which comes before the rename
	const string playlist = Copies(copies);

	for (const Case &test : cases) {
		Write("list.m3u", playlist, test.mode);
		Options options;
		options.faults = test.faults;
		Expect({"list.m3u"}, test.status, Said(kTemp, "list.m3u", test.message), options);
		if (test.only_as_temp) {
			EXPECT_TRUE(Read(kTemp) == playlist) << test.why;
			EXPECT_EQ(Files(), Names{kTemp}) << test.why;
			fs::remove(At(kTemp));
			continue;
		}
		struct stat status;
		ASSERT_EQ(stat(At("list.m3u").c_str(), &status), 0);
		EXPECT_EQ(status.st_mode & 07777, test.mode) << test.why;
		if (test.converted)
			EXPECT_TRUE(Read("list.m3u") == ConvertedCopies(copies)) << test.why;
		else
			EXPECT_TRUE(Read("list.m3u") == playlist) << test.why;
		Names files = {"list.m3u"};
		if (test.message == kept) {
			EXPECT_TRUE(Read(kTemp) == playlist);
			files.push_back(kTemp);
		}
		EXPECT_EQ(Files(), files) << test.why;
		std::error_code ignored;
		fs::remove(At(kTemp), ignored);
	}

	// A two-file run whose output fails to close says so.
	Options closing;
	closing.faults = {"-P", At("out.m3u").string(), "-e", "inject=close:error=EIO"};
	Expect({"list.m3u", "out.m3u"}, 2, Said("list.m3u", "out.m3u", kUnableWrite), closing);
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
