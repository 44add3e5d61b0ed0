// Runs the built tandrel in a scratch directory and checks what a user
// sees: standard output to the byte, an empty standard error, the exit
// status, and every file left in the directory.
//
// Arguments: --program=PATH names the program; --launcher=WORD, given once
// or more, the command that runs it (an emulator and its settings), which
// exits 77 when told --check on a host where it cannot run; --crlf says that
// the program ends its lines with CR LF.
#include <gtest/gtest.h>

#include "stream_util.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
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
	size_t stdout_room = 0;	// if not 0, standard output a pipe with this much room
	bool ignore_hangup = false;	// as nohup starts it
	const char *input = nullptr;	// standard input: these bytes, piped
	std::vector<string> faults;	// strace arguments that inject faults
	string folder;	// where it runs, below the work folder
	bool here = false;	// it runs where the test is, instead
};

string program;
std::vector<string> launcher;
bool crlf = false;

bool Emulated()
{
	return !launcher.empty();
}

// Asked once: whether the emulator can run at all on this host.
bool LauncherRuns()
{
	static const bool runs = [] {
		string command;
		for (const string &word : launcher)
			command += "'" + word + "' ";
		return system((command + "--check >/dev/null 2>&1").c_str()) == 0;
	}();
	return runs;
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

// Every message a run ends with, as the user reads it.
const string kUnableInput = "Unable to open input file.";
const string kUnableOutput = "Unable to open output file.";
const string kUnableRead = "Unable to read input file.";
const string kUnableWrite = "Unable to write output file.";
const string kUtf16 = "The input file is UTF-16; save it as UTF-8 or ANSI first.";
const string kSameFile = "Input and output are the same file.";
const string kBusy = "Another run is converting this playlist; try again when it has finished.";
const string kBusyHere =
	"Another run is converting a playlist in this folder; try again when it has finished.";
const string kStale = "A file named \"~tandrel-temp.m3u\" is in the way here. It may be a "
                      "playlist left by an interrupted run: look at it, give it back its "
                      "name or move it away, then try again.";
const string kMaybeAsTemp = "Unable to open input file. The playlist may be \"~tandrel-temp.m3u\" "
                            "here, left by an interrupted run: look at it and give it back "
                            "its name.";
const string kUntrusted = "The playlist is a link that neither you nor the owner of its file "
                          "made; it is not followed.";
const string kWritten = "The playlist was written to while it was read; it is left as it is now. "
                        "Run tandrel again once nothing else writes it.";
const string kChanged = "The playlist was moved, removed or replaced while it was read; it is "
                        "left as it is now.";
const string kUnableMove = "Unable to move the playlist to \"~tandrel-temp.m3u\" here";
const string kOtherFileSystem = kUnableMove + ": this folder is on another file system. "
                                              "Run tandrel from the playlist's folder.";
const string kNoPermission =
	kUnableMove + ": no permission to write in this folder or to move the playlist.";
const string kReadOnlyFolder =
	" The new playlist is made in the playlist's folder, which you may not write.";
const string kStranded = "The playlist is another user's, and this folder (sticky, as /tmp is) "
                         "would let you neither move it back from here nor remove it. Run "
                         "tandrel from the playlist's folder.";
const string kUtf32 = "The input file is UTF-32; save it as UTF-8 or ANSI first.";
const string kWouldExpose = ": users who may not read it now could read it here, and you may not "
                            "change its permission bits. Run tandrel from the playlist's folder.";
const string kKeptAsTemp = " The original playlist is now \"~tandrel-temp.m3u\".";
const string kTempLeft =
	"Unable to remove \"~tandrel-temp.m3u\", which still holds the original playlist.";
const string kTempUnchecked =
	"Unable to look at \"~tandrel-temp.m3u\", which may still hold the original playlist.";
const string kSetIdDropped = "The playlist's set-user-ID or set-group-ID bit could not be kept.";
const string kCannotRename = kUnableMove + ": the file system cannot rename it without replacing. "
                             "Convert it to a new file and move that: tandrel list.m3u new.m3u && "
                             "mv new.m3u list.m3u";

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

// What a run makes of copies of the Windows playlist: the lines of each
// copy, then one empty line for the last line feed.
string ConvertedCopies(size_t count)
{
	return Nl(Repeat(kUnixList.substr(0, kUnixList.size() - 1), count) + "\n");
}

// Enough bytes that a run can be caught in the middle.
const size_t kBigCopies = 100000;

const string &BigList()
{
	static const string big = Repeat(kWindowsList, kBigCopies);
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
	return Emulated() && signal_number == SIGINT ? 0x3A : 128 + signal_number;
}

// Bytes the process has written so far, to any file.
unsigned long long Written(pid_t process)
{
	std::ifstream io("/proc/" + std::to_string(process) + "/io");
	string key;
	unsigned long long count = 0;
	while (io >> key >> count && key != "wchar:")
		;
	return key == "wchar:" ? count : 0;
}

bool WroteAQuarter(pid_t process)
{
	return Written(process) >= BigList().size() / 4;
}

// The process waits in the system call of that number, with that first
// argument where one is given.
bool WaitsIn(pid_t process, long number, const char *first = nullptr)
{
	std::ifstream call("/proc/" + std::to_string(process) + "/syscall");
	string called, argument;
	return call >> called >> argument && called == std::to_string(number) &&
	       (first == nullptr || argument == first);
}

// The program that strace started.
pid_t Traced(pid_t strace)
{
	const string task = std::to_string(strace);
	std::ifstream children("/proc/" + task + "/task/" + task + "/children");
	pid_t program = 0;
	return children >> program ? program : 0;
}

class EndToEnd : public ::testing::Test {
protected:
	void SetUp() override
	{
		ASSERT_FALSE(program.empty()) << "no --program=PATH given";
		if (Emulated() && !LauncherRuns())
			GTEST_SKIP() << "the emulator cannot run on this host";
		program_ = program;
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
		for (int descriptor : held_)
			close(descriptor);
		// rm copes with folders deeper than the longest path.
		if (chdir("/") != 0 || system(("rm -rf '" + scratch_.string() + "'").c_str()) != 0)
			ADD_FAILURE() << "cannot remove " << scratch_;
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
	Names Files() const
	{
		Names names;
		for (const auto &entry : fs::directory_iterator(work_))
			names.push_back(entry.path().filename().string());
		std::sort(names.begin(), names.end());
		return names;
	}

	// The program, or, for nobody, a copy that nobody can reach: the
	// checkout may lie in a folder only its owner may enter.
	string ProgramFor(const Options &options)
	{
		if (!options.as_nobody || getuid() != 0)
			return program_;
		const fs::path copy = scratch_ / "tandrel";
		if (!fs::exists(copy))
			fs::copy_file(program_, copy);
		chmod(scratch_.c_str(), 0755);
		return copy.string();
	}

	// A pipe whose reading end the test keeps and never reads, with room
	// left for that many bytes. Returns its writing end, or -1.
	int PipeWithRoom(size_t room)
	{
		int ends[2];
		if (pipe(ends) != 0)
			return -1;
		held_.push_back(ends[0]);
		int size = fcntl(ends[1], F_SETPIPE_SZ, 4096);
		const string filler(size > 0 ? static_cast<size_t>(size) - room : 0, '#');
		if (size <= 0 || write(ends[1], filler.data(), filler.size()) !=
		                     static_cast<ssize_t>(filler.size())) {
			close(ends[1]);
			return -1;
		}
		return ends[1];
	}

	// Starts the program as a user would: signals at their defaults and
	// none blocked, whatever the test runner set.
	pid_t Start(const Names &args, const Options &options = Options())
	{
		const string run = std::to_string(runs_++);
		fs::path out = scratch_ / ("stdout" + run), err = scratch_ / ("stderr" + run);
		Names words;
		if (!options.faults.empty())
			words = {"strace", "-f", "-qq", "-o", "/dev/null"};
		words.insert(words.end(), options.faults.begin(), options.faults.end());
		words.insert(words.end(), launcher.begin(), launcher.end());
		words.push_back(ProgramFor(options));
		words.insert(words.end(), args.begin(), args.end());
		std::vector<char *> argv;
		for (string &word : words)
			argv.push_back(word.data());
		argv.push_back(nullptr);
		int room = options.stdout_room > 0 ? PipeWithRoom(options.stdout_room) : -1;

		fflush(nullptr);
		pid_t child = fork();
		if (child == 0) {
			Child(out, err, room, options);
			execvp(argv[0], argv.data());
			_exit(127);
		}
		if (room >= 0)
			close(room);
		run_of_[child] = run;
		return child;
	}

	void Child(const fs::path &out, const fs::path &err, int room, const Options &options)
	{
		int out_fd = room >= 0 ? room : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
		if (out_fd < 0 || err_fd < 0 || in_fd < 0 || dup2(in_fd, 0) < 0 ||
		    dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0 ||
		    (!options.here && chdir((work_ / options.folder).c_str()) != 0))
			_exit(126);
		closefrom(3);
		if (options.closed_stdin)
			close(0);
		umask(022);
		sigset_t none;
		sigemptyset(&none);
		sigprocmask(SIG_SETMASK, &none, nullptr);
		for (int signal_number = 1; signal_number < NSIG; signal_number++)
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
		// LeakSanitizer cannot work under strace, and the faults' signals
		// must reach the program as they would without AddressSanitizer.
		if (!options.faults.empty()) {
			const char *asan = getenv("ASAN_OPTIONS");
			string settings = (asan != nullptr ? string(asan) + ":" : "") +
			                  "detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:"
			                  "handle_sigill=0:handle_abort=0";
			setenv("ASAN_OPTIONS", settings.c_str(), 1);
		}
		if (options.as_nobody && getuid() == 0 &&
		    (setgroups(options.also_in != 0 ? 1 : 0, &options.also_in) != 0 ||
		     setgid(65534) != 0 || setuid(65534) != 0))
			_exit(126);
	}

	// Waits for a started run to end, and kills it when it has not ended
	// within seconds (if given): a run that hangs fails the test rather
	// than hold it up. strace's own notes are not the program's.
	Outcome Finish(pid_t child, int seconds = 0)
	{
		int status = 0;
		const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
		while (seconds > 0 && waitpid(child, &status, WNOHANG) == 0) {
			if (std::chrono::steady_clock::now() > deadline)
				kill(child, SIGKILL);
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		}
		if (seconds == 0)
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

	Outcome Run(const Names &args, const Options &options = Options())
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

	// Lets a run go on until ready, then stops it: a run caught in the
	// middle, whatever the machine's speed.
	template <typename Ready>
	void StopWhen(pid_t child, Ready ready)
	{
		ASSERT_TRUE(WaitWhileRunning(child, ready)) << "the run ended before it was caught";
		kill(child, SIGSTOP);
		int status;
		ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
		ASSERT_TRUE(WIFSTOPPED(status));
	}

	// Starts a run that prepare sets up and stops it when ready. On a busy
	// machine the stop can come after the run wrote half the big playlist
	// or more; then that run is killed and another started, ten at most.
	template <typename Prepare>
	pid_t StopMidway(const Names &args, const Options &options, Prepare prepare,
	                 const std::function<bool(pid_t)> &ready)
	{
		for (int tries = 1;; tries++) {
			prepare();
			const pid_t child = Start(args, options);
			StopWhen(child, [&] { return ready(child); });
			if (Written(child) < BigList().size() / 2 || tries == 10)
				return child;
			kill(child, SIGKILL);
			Finish(child);
		}
	}

	// Faults given as "when=@TEXT" are injected at the first call of their
	// system call whose strace line, with the paths of descriptors, holds
	// TEXT: found by a run that prepare sets up, with the faults before.
	Names Resolved(const Names &faults, const Names &args, const std::function<void()> &prepare)
	{
		Names done;
		for (const string &fault : faults) {
			const size_t at = fault.find("when=@");
			if (at == string::npos) {
				done.push_back(fault);
				continue;
			}
			const string call = fault.substr(7, fault.find(':') - 7);
			// "TEXT#K": the Kth such call.
			string text = fault.substr(at + 6);
			const size_t mark = text.rfind('#');
			const int wanted = mark != string::npos ? std::stoi(text.substr(mark + 1)) : 1;
			text = text.substr(0, mark);
			const string log = (scratch_ / "calls").string();
			Options dry;
			dry.faults.assign(done.begin(), done.end() - 1);	// less its "-e"
			dry.faults.insert(dry.faults.end(), {"-y", "-o", log});
			int number = 0;
			// Once more where a busy machine lost the first run's record.
			for (int tries = 0; tries < 2 && number == 0; tries++) {
				prepare();
				Run(args, dry);
				number = CallNumber(log, call, text, wanted);
			}
			EXPECT_NE(number, 0) << "no " << call << " call with " << text << " in " << Slurp(log);
			done.push_back(fault.substr(0, at) + "when=" + std::to_string(number));
		}
		return done;
	}

	// The number of the wanted-th call in strace's log whose line holds
	// text, among the calls of its system call; 0 where there is none.
	static int CallNumber(const string &log, const string &call, const string &text, int wanted)
	{
		std::ifstream calls(log);
		int number = 0;
		for (string line; std::getline(calls, line);) {
			// "PID  call(...": strace pads the process's number.
			const size_t name = line.find_first_not_of(' ', line.find(' '));
			if (name == string::npos || line.compare(name, call.size() + 1, call + "(") != 0)
				continue;
			number++;
			if (line.find(text) != string::npos && --wanted == 0)
				return number;
		}
		return 0;
	}

	// Runs and checks status, standard output and an empty standard error.
	void Expect(const Names &args, int status, const string &out,
	            const Options &options = Options())
	{
		Outcome outcome = Run(args, options);
		EXPECT_EQ(outcome.status, status);
		EXPECT_EQ(outcome.out, out);
		EXPECT_EQ(outcome.err, "");
	}

	string program_;
	fs::path scratch_;
	fs::path work_;
	int runs_ = 0;
	std::map<pid_t, string> run_of_;	// where each run's output goes
	std::vector<int> held_;	// descriptors the test holds open for a run
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

// What a run makes of a playlist, in place and from one file to another.
// Text mode: on Windows CR LF reads as a line feed, 0x1A ends the input and
// every line feed written becomes CR LF; elsewhere bytes are not translated.
TEST_F(EndToEnd, RunsWriteTheConvertedPlaylist)
{
	struct Case {
		const char *why;
		Names args;	// the input first; one name converts it in place
		string input;
		string output;
		bool piped = false;	// the input comes on standard input
		mode_t mode = 0644;	// the input's; 0444 is read-only on Windows too
	};
	const string ends = "a\\b\r\nc\nd\re\r\n#f\x1Ag\r\nh\r\n";
	const string ends_out = crlf ? "./a/b\r\n./c\r\n./d\re\r\n#f\r\n"
	                             : "./a/b\n./c\n./d\re\n#f\x1Ag\n./h\n\n";
	const string entry = Repeat("dir\\", 1500), comment = "#" + Repeat("c\\ ", 1500);
	const string entry_out = "./" + Repeat("dir/", 1500);
	const string long_in = entry + "x.mp3   \r\n" + comment + "\r\n";
	const string long_out = Nl(entry_out + "x.mp3\n" + comment.substr(0, comment.size() - 1) + "\n\n");
	const string mark = "\xEF\xBB\xBF";
	const Case cases[] = {
		{"in place", {"list.m3u"}, kWindowsList, Nl(kUnixList)},
		{"in place, read-only", {"list.m3u"}, kWindowsList, Nl(kUnixList), false, 0444},
		{"-h is a file name", {"-h"}, "a\\b\n", Nl("./a/b\n\n")},
		{"names after the second ignored", {"in.m3u", "out.m3u", "ignored", "-x"},
		 kWindowsList, Nl(kUnixList)},
		{"empty input gives one empty line", {"empty.m3u", "out.m3u"}, "", Nl("\n")},
		{"line ends", {"in.m3u", "out.m3u"}, ends, ends_out},
		{"line ends", {"list.m3u"}, ends, ends_out},
		{"overlong lines whole, rewritten once", {"long.m3u", "out.m3u"}, long_in, long_out},
		{"overlong lines whole, rewritten once", {"long.m3u"}, long_in, long_out},
		{"UTF-8 mark stays at the start", {"header.m3u"}, mark + "#EXTM3U\r\nMusic\\a.mp3\r\n",
		 Nl(mark + "#EXTM3U\n./Music/a.mp3\n\n")},
		{"UTF-8 mark stays at the start", {"entry.m3u", "out.m3u"},
		 mark + "Music\\a.mp3\r\n" + mark + "b\r\n", Nl(mark + "./Music/a.mp3\n./" + mark + "b\n\n")},
		// /dev/stdin is a UNIX name.
		{"piped", {"/dev/stdin", "piped.m3u"}, kWindowsList, kUnixList, true},
	};

	for (const Case &test : cases) {
		SCOPED_TRACE(test.why);
		if (test.piped && Emulated())
			continue;
		RemoveAll();
		const bool in_place = test.args.size() == 1;
		const string &input = test.args[0], &output = in_place ? input : test.args[1];
		Names files = {output};
		Options options;
		if (test.piped)
			options.input = test.input.c_str();
		else
			Write(input, test.input, test.mode);
		if (!in_place)
			Write(output, "old contents, longer than nothing");
		if (!in_place && !test.piped)
			files = {std::min(input, output), std::max(input, output)};
		Expect(test.args, 0, Said(in_place ? kTemp : input, output), options);
		EXPECT_TRUE(Read(output) == test.output);
		if (!in_place && !test.piped) {
			EXPECT_EQ(Read(input), test.input);
		}
		struct stat status;
		EXPECT_TRUE(!in_place || (stat(At(output).c_str(), &status) == 0 &&
		                          (status.st_mode & 0777) == test.mode));
		EXPECT_EQ(Files(), files);
	}
}

// What a refused run finds before it. Link and hard link hold the name
// they lead to; a held file is locked by another process, as a run locks
// its playlist; another's link is owned by nobody.
enum Kind { kFile, kFolder, kFifo, kLink, kHardLink, kHeldFile, kAnothersLink };

struct Found {
	string name;
	Kind kind;
	string holds;
};

// Where a case can be shown: the emulator cannot show all, some it alone
// can, and only root can stage another user's files.
enum Where { kEverywhere, kNative, kEmulated, kAsRoot };

// A run refused leaves every file as it found it, and makes none.
TEST_F(EndToEnd, RefusedRunsTouchNothing)
{
	struct Case {
		const char *why;
		std::vector<Found> before;
		Names args;
		int status;
		string message;
		Where where = kEverywhere;
		Options options = {};
	};
	const string little = string("\xFF\xFE#\0E\0\r\0\n\0a\0\\\0b\0", 16);
	const string big = string("\xFE\xFF\0#\0E", 6);
	const string little_unmarked = string("#\0E\0\r\0\n\0a\0\\\0b\0", 14);
	const string big_unmarked = string("\0#\0E\0X\0\r\0\n\0a", 12);
	// The first line empty, or of one character, hides nothing.
	const string little_late = string("\r\0\n\0#\0E\0\r\0\n\0a\0\\\0b\0", 18);
	const string big_late = string("\0A\0\r\0\n\0B\0\\\0c", 12);
	const string wide = string("\0\0\xFE\xFF\0\0\0#\0\0\0\n", 12);
	const Found list = {"list.m3u", kFile, kWindowsList}, out = {"out.m3u", kFile, "keep me"};
	const Found a = {"a.m3u", kFile, kWindowsList};
	const Found large = {"list.m3u", kFile, Repeat(kWindowsList, 80)};
	Options piped, no_input, three_files, one_kilobyte;
	piped.input = "\xFF\xFE#\x01";
	no_input.closed_stdin = true;	// the next file opened takes descriptor 0
	three_files.open_files = 6;	// standard streams, the two folders and the input
	one_kilobyte.file_size = 1024;	// SIGXFSZ at its default, as users have it
	const Case cases[] = {
		{"missing input", {}, {"none.m3u"}, 1, kUnableInput},
		{"missing input", {}, {"none.m3u", "out.m3u"}, 1, kUnableInput},
		{"output in no folder", {list}, {"list.m3u", "no/such/dir.m3u"}, 2, kUnableOutput},
		{"UTF-16", {{"little.m3u", kFile, little}}, {"little.m3u"}, 1, kUtf16},
		{"UTF-16", {{"big.m3u", kFile, big}}, {"big.m3u"}, 1, kUtf16},
		{"UTF-16", {{"little.m3u", kFile, little}, out}, {"little.m3u", "out.m3u"}, 1, kUtf16},
		{"UTF-16", {{"big.m3u", kFile, big}}, {"big.m3u", "new.m3u"}, 1, kUtf16},
		{"UTF-16 unmarked", {{"little.m3u", kFile, little_unmarked}}, {"little.m3u"}, 1, kUtf16},
		{"UTF-16 unmarked", {{"big.m3u", kFile, big_unmarked}, out}, {"big.m3u", "out.m3u"}, 1,
		 kUtf16},
		{"UTF-16 late", {{"little.m3u", kFile, little_late}}, {"little.m3u"}, 1, kUtf16},
		{"UTF-16 late", {{"big.m3u", kFile, big_late}, out}, {"big.m3u", "out.m3u"}, 1, kUtf16},
		{"UTF-32", {{"wide.m3u", kFile, wide}}, {"wide.m3u"}, 1, kUtf32},
		// /dev/stdin is a UNIX name.
		{"UTF-16 piped", {out}, {"/dev/stdin", "out.m3u"}, 1, kUtf16, kNative, piped},
		{"UTF-16 piped", {}, {"/dev/stdin", "new.m3u"}, 1, kUtf16, kNative, piped},
		{"stale file", {list, {kTemp, kFile, "somebody's file"}}, {"list.m3u"}, 1, kStale},
		{"stale file", {{kTemp, kFile, "somebody's file"}}, {kTemp}, 1, kStale},
		{"stale folder", {list, {kTemp, kFolder, ""}}, {"list.m3u"}, 1, kStale},
		// Wine looks through a UNIX link to nowhere and finds no file;
		// Windows itself has no such links.
		{"stale link", {list, {kTemp, kLink, "nowhere"}}, {"list.m3u"}, 1, kStale, kNative},
		{"another run's temporary file", {list, {kTemp, kHeldFile, "another's"}}, {"list.m3u"},
		 1, kBusyHere, kNative},
		{"name gone, temporary file here", {{kTemp, kFile, kWindowsList}}, {"list.m3u"}, 1,
		 kMaybeAsTemp},
		{"name gone, another run's temporary file", {{kTemp, kHeldFile, kWindowsList}},
		 {"list.m3u"}, 1, kBusyHere, kNative, no_input},
		// An in-place run that cannot make or write its new playlist. An
		// emulator itself needs more open files than that.
		{"no file left to open", {large}, {"list.m3u"}, 2, kUnableOutput, kNative, three_files},
		{"file size limit", {large}, {"list.m3u"}, 2, kUnableWrite, kEverywhere, one_kilobyte},
		{"folder", {{"folder.m3u", kFolder, ""}}, {"folder.m3u"}, 1, kUnableInput},
		{"fifo", {{"fifo.m3u", kFifo, ""}}, {"fifo.m3u"}, 1, kUnableInput},
		{"device", {}, {"/dev/null"}, 1, kUnableInput},
		{"same name", {a}, {"a.m3u", "a.m3u"}, 2, kSameFile},
		{"same file", {a}, {"./a.m3u", "a.m3u"}, 2, kSameFile},
		{"same file", {a, {"sub", kFolder, ""}}, {"a.m3u", "sub/../a.m3u"}, 2, kSameFile},
		{"hard link", {a, {"hard.m3u", kHardLink, "a.m3u"}}, {"hard.m3u", "a.m3u"}, 2, kSameFile},
		{"link", {a, {"link.m3u", kLink, "a.m3u"}}, {"a.m3u", "link.m3u"}, 2, kSameFile},
		{"link", {a, {"link.m3u", kLink, "a.m3u"}}, {"link.m3u", "a.m3u"}, 2, kSameFile},
		{"full disk", {list}, {"list.m3u", "/dev/full"}, 2, kUnableWrite},
		// Wine's C library refuses to open a folder at all.
		{"folder read", {{"folder.m3u", kFolder, ""}, out}, {"folder.m3u", "out.m3u"}, 1,
		 kUnableRead, kNative},
		{"another's link to root's file", {a, {"link.m3u", kAnothersLink, "a.m3u"}},
		 {"link.m3u"}, 1, kUntrusted, kAsRoot},
	};

	for (const Case &test : cases) {
		SCOPED_TRACE(test.why);
		if ((test.where != kEverywhere && Emulated()) || (test.where == kAsRoot && getuid() != 0))
			continue;
		RemoveAll();
		for (const Found &found : test.before) {
			const fs::path path = At(found.name);
			if (found.kind == kFile || found.kind == kHeldFile)
				Write(found.name, found.holds);
			else if (found.kind == kFolder)
				fs::create_directory(path);
			else if (found.kind == kFifo)
				ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
			else if (found.kind == kHardLink)
				fs::create_hard_link(At(found.holds), path);
			else
				fs::create_symlink(found.holds, path);
			// Locked, as a run locks the playlist it converts.
			int held = found.kind == kHeldFile ? open(path.c_str(), O_RDONLY) : -1;
			if (held >= 0 && flock(held, LOCK_EX) == 0)
				held_.push_back(held);
			if (found.kind == kAnothersLink) {
				ASSERT_EQ(lchown(path.c_str(), 65534, 65534), 0);
			}
		}
		const Names before = Snapshot();
		// Wine's server, started by a run without the limit, outlives
		// it by seconds: the limit then reaches only the program.
		if (Emulated() && test.options.file_size != RLIM_INFINITY)
			Run({});
		const string &from = test.args.size() == 1 ? kTemp : test.args[0];
		Expect(test.args, test.status, Said(from, test.args.back(), test.message), test.options);
		EXPECT_EQ(Snapshot(), before);
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
	struct Case {
		Names args;
		int status;
		string message;
		string converted;	// the file that then holds the converted list, if any
		Where where = kNative;
	};
	const string folder = DeepFolder(Emulated() ? 4 : 5);
	const string name = folder + string(20, 'p') + ".m3u", output = folder + "out.m3u";
	const string deeper = DeepFolder(5) + "list.m3u";	// past MAX_PATH
	// The longest name Linux takes, 4095 bytes; one byte more is refused,
	// even where the name cut to 4095 bytes leads to a file.
	const string longest = Repeat("./", 2044) + "iin.m3u";
	const string huge(5000, 'n');
	const Case cases[] = {
		{{name, output}, 0, "", output, kEverywhere},
		{{name}, 0, "", name, kEverywhere},
		{{longest, "out.m3u"}, 0, "", "out.m3u"},
		{{"other.m3u", longest}, 0, "", "iin.m3u"},
		{{longest}, 0, "", "iin.m3u"},
		{{longest + "x", "new.m3u"}, 1, kUnableInput, ""},
		{{"iin.m3u", longest + "x"}, 2, kUnableOutput, ""},
		// Past what the system takes: refused, checked in the order of the
		// run, input first.
		{{huge}, 1, kUnableInput, ""},
		{{huge, "out.m3u"}, 1, kUnableInput, ""},
		{{"iin.m3u", huge}, 2, kUnableOutput, ""},
		{{"none.m3u", huge}, 1, kUnableInput, ""},
		{{deeper}, 1, kUnableInput, "", kEmulated},
	};
	ASSERT_GT(name.size(), Emulated() ? 240u : 300u);

	for (const Case &test : cases) {
		SCOPED_TRACE(test.args[0].substr(0, 20) + "... " + std::to_string(test.args.size()));
		if ((test.where == kNative && Emulated()) || (test.where == kEmulated && !Emulated()))
			continue;
		RemoveAll();
		fs::create_directories(At(folder));
		fs::create_directories(At(DeepFolder(5)));
		for (const string &file : {name, deeper, string("iin.m3u"), string("other.m3u")})
			Write(file, kWindowsList);
		const Names before = Snapshot();
		const bool in_place = test.args.size() == 1;
		Expect(test.args, test.status, Said(in_place ? kTemp : test.args[0], test.args.back(),
		                                    test.message));
		if (test.converted.empty()) {
			EXPECT_EQ(Snapshot(), before);
		} else {
			EXPECT_EQ(Read(test.converted), Nl(kUnixList));
		}
		EXPECT_FALSE(fs::exists(At(kTemp)));
	}
	if (Emulated())
		return;
	// A current folder deeper than the longest path the system takes: a
	// short name works all the same.
	string deep;
	ASSERT_EQ(chdir(work_.c_str()), 0);
	while (deep.size() <= 4096) {
		ASSERT_EQ(mkdir(string(250, 'd').c_str(), 0755), 0);
		ASSERT_EQ(chdir(string(250, 'd').c_str()), 0);
		deep += string(250, 'd') + "/";
	}
	std::ofstream("list.m3u", std::ios::binary) << kWindowsList;
	Options below;
	below.here = true;
	Expect({"list.m3u"}, 0, Said(kTemp, "list.m3u"), below);
	EXPECT_EQ(Slurp("list.m3u"), kUnixList);
	EXPECT_FALSE(fs::exists(kTemp));
}

// Where the runner may not write the playlist's folder, the new playlist
// cannot be made; where it may not write the current folder, or that is on
// another file system, the original cannot move there. Either way nothing
// is touched, and the message says why.
TEST_F(EndToEnd, MovesThatCannotBeMadeTouchNothing)
{
	struct Case {
		const char *why;
		string folder;	// the playlist's: one anyone may write, or "" for here
		mode_t here;	// the current folder's mode
		int status;
		string message;
		Where where;
		gid_t also_in = 0;	// a group the runner, nobody, is in
	};
	char other[] = "/dev/shm/tandrel-e2e-XXXXXX";
	const string shared = (scratch_ / "shared").string();
	// Reached through a folder of group 100's alone: aside in an open
	// current folder, root's playlist would be open to all.
	const string club = (scratch_ / "club").string(), behind = club + "/shared";
	struct stat here, there;
	const bool elsewhere = mkdtemp(other) != nullptr && stat(other, &there) == 0 &&
	                       stat(work_.c_str(), &here) == 0 && here.st_dev != there.st_dev;
	const Case cases[] = {
		{"another file system", other, 0755, 1, kOtherFileSystem, kEverywhere},
		{"playlist's folder read-only", "", 0555, 2, kUnableOutput + kReadOnlyFolder, kNative},
		{"current folder read-only", shared, 0555, 1, kNoPermission, kNative},
		// A current folder that cannot even be searched hides no file
		// in the way: the move is what fails.
		{"current folder closed", shared, 0700, 1, kNoPermission, kAsRoot},
		// Root's playlist could be neither moved back from nor removed in a
		// sticky folder of root's.
		{"current folder sticky", shared, 01777, 1, kStranded, kAsRoot},
		{"another's playlist behind a group's folder", behind, 0777, 1, kUnableMove + kWouldExpose,
		 kAsRoot, 100},
	};
	fs::create_directory(shared);
	chmod(shared.c_str(), 0777);
	fs::create_directories(behind);
	chmod(behind.c_str(), 0777);
	chmod(club.c_str(), 0770);
	EXPECT_EQ(chown(club.c_str(), 0, 100) == 0, getuid() == 0);
	chmod(scratch_.c_str(), 0755);

	for (const Case &test : cases) {
		SCOPED_TRACE(test.why);
		if ((test.where != kEverywhere && Emulated()) || (test.where == kAsRoot && getuid() != 0) ||
		    (test.folder == other && !elsewhere))
			continue;
		const fs::path playlist = (test.folder.empty() ? work_ : fs::path(test.folder)) / "list.m3u";
		const string name = test.folder.empty() ? "list.m3u" : playlist.string();
		std::ofstream(playlist, std::ios::binary) << kWindowsList;
		chmod(playlist.c_str(), 0666);
		chmod(work_.c_str(), test.here);
		Options runner;
		runner.as_nobody = test.where != kEverywhere;
		runner.also_in = test.also_in;
		Expect({name}, test.status, Said(kTemp, name, test.message), runner);
		chmod(work_.c_str(), 0755);
		EXPECT_EQ(Slurp(playlist), kWindowsList);
		struct stat status;
		EXPECT_TRUE(stat(playlist.c_str(), &status) == 0 && (status.st_mode & 0777) == 0666);
		EXPECT_EQ(Files(), test.folder.empty() ? Names{"list.m3u"} : Names{});
		fs::remove(playlist);
		EXPECT_TRUE(fs::is_empty(test.folder.empty() ? work_ : fs::path(test.folder)));
	}
	fs::remove_all(other);
}

// Run by root on somebody else's playlist, an in-place run keeps owner,
// group, permission, set-id and sticky bits; anyone keeps their own, and
// the playlist's group where it is one of theirs.
TEST_F(EndToEnd, InPlaceKeepsOwnerAndPermissionBits)
{
	if (Emulated())
		GTEST_SKIP() << "Windows has no permission bits to keep";
	struct Keep {
		mode_t mode;
		uid_t owner;
		gid_t group;
		gid_t runner_also_in;	// not 0: run by nobody, a member of it
		uid_t new_owner;
		gid_t new_group = static_cast<gid_t>(-1);	// -1: the group kept
		mode_t new_mode = 0;	// 0: the mode kept
	};
	const uid_t me = getuid();
	std::vector<Keep> keeps = {{0600, me, getgid(), 0, me}, {0604, me, getgid(), 0, me},
	                           {02750, me, getgid(), 0, me}};
	if (me == 0) {
		keeps.insert(keeps.end(), {{0640, 65534, 65534, 0, 65534},
		                           {04755, 65534, 65534, 0, 65534},
		                           {01644, 65534, 0, 0, 65534}, {0664, 0, 100, 100, 65534},
		                           // Writing as a user clears set-id bits: given back.
		                           {02750, 65534, 65534, 65534, 65534},
		                           // A group nobody is not in: its bits go with it.
		                           {02750, 65534, 0, 65534, 65534, 65534, 0700}});
		chmod(scratch_.c_str(), 0755);
		chmod(work_.c_str(), 0777);
	}
	for (const Keep &keep : keeps) {
		Write("list.m3u", kWindowsList);
		ASSERT_EQ(chown(At("list.m3u").c_str(), keep.owner, keep.group), 0);
		ASSERT_EQ(chmod(At("list.m3u").c_str(), keep.mode), 0);
		Options member;
		member.as_nobody = keep.runner_also_in != 0;
		member.also_in = keep.runner_also_in;
		const bool dropped = keep.new_mode != 0 && (keep.new_mode & 06000) != (keep.mode & 06000);
		Expect({"list.m3u"}, 0, Said(kTemp, "list.m3u", dropped ? kSetIdDropped : ""), member);
		struct stat status;
		ASSERT_EQ(stat(At("list.m3u").c_str(), &status), 0);
		EXPECT_EQ(status.st_mode & 07777, keep.new_mode != 0 ? keep.new_mode : keep.mode);
		EXPECT_EQ(status.st_uid, keep.new_owner);
		EXPECT_EQ(status.st_gid, keep.new_group != static_cast<gid_t>(-1) ? keep.new_group
		                                                                  : keep.group);
		EXPECT_EQ(Read("list.m3u"), Nl(kUnixList));
	}
	// An access ACL that shuts nobody out goes with the new file: a header,
	// then the owner, nobody, the group, the mask and the others.
	const unsigned char acl[] = {2, 0, 0, 0, 1, 0, 6, 0, 0xFF, 0xFF, 0xFF, 0xFF,
	                             2, 0, 0, 0, 0xFE, 0xFF, 0, 0, 4, 0, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF,
	                             0x10, 0, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF};
	const string name = "system.posix_acl_access";
	Write("list.m3u", kWindowsList);
	if (setxattr(At("list.m3u").c_str(), name.c_str(), acl, sizeof acl, 0) != 0)
		GTEST_SKIP() << "no ACLs here";
	Expect({"list.m3u"}, 0, Said(kTemp, "list.m3u"));
	unsigned char kept[sizeof acl + 8];
	EXPECT_EQ(getxattr(At("list.m3u").c_str(), name.c_str(), kept, sizeof kept),
	          static_cast<ssize_t>(sizeof acl));
	EXPECT_EQ(memcmp(kept, acl, sizeof acl), 0);
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
// run starts; a link to nothing is no playlist, and more than forty links
// in a row are a loop. A link is followed only where its owner runs
// tandrel, is root, or owns the file it leads to.
TEST_F(EndToEnd, InPlaceThroughALinkConvertsWhatItLeadsTo)
{
	if (Emulated())
		GTEST_SKIP() << "UNIX links";
	struct Case {
		const char *why;
		string name;
		uid_t link_owner;	// of d/link.m3u
		uid_t file_owner;	// of d/real.m3u, which it leads to
		bool by_nobody;	// run by nobody, else by the test's user
		int status;
		string message;
	};
	const uid_t me = getuid();
	std::vector<Case> cases = {
		{"relative link elsewhere", "d/link.m3u", me, me, false, 0, ""},
		{"chain of links", "chain.m3u", me, me, false, 0, ""},
		{"link to nothing", "dangling.m3u", me, me, false, 1, kUnableInput},
		{"forty links in a row", "links/38", me, me, false, 0, ""},
		{"forty-one links in a row", "links/39", me, me, false, 1, kUnableInput},
		{"absolute link in a folder", "d/absolute.m3u", me, me, false, 0, ""},
		{"link to the longest path", "longest.m3u", me, me, false, 0, ""},
		// Cut to fit, the path would lead to the playlist.
		{"link to a path one byte too long", "d/too-long.m3u", me, me, false, 1, kUnableInput},
	};
	if (me == 0) {
		cases.insert(cases.end(), {
			{"another's link to root's file", "d/link.m3u", 65534, 0, false, 1, kUntrusted},
			{"another's link to their file", "d/link.m3u", 65534, 65534, false, 0, ""},
			{"own link to root's file", "d/link.m3u", 65534, 0, true, 0, ""},
			{"root's link to a third's file", "d/link.m3u", 0, 1234, true, 0, ""}});
		chmod(scratch_.c_str(), 0755);
		chmod(work_.c_str(), 0777);
	}
	const string longest = Repeat("./", 2042), too_long = "../" + Repeat("./", 2040);

	for (const Case &test : cases) {
		SCOPED_TRACE(test.why);
		RemoveAll();
		fs::create_directory(At("d"));
		chmod(At("d").c_str(), 0777);
		Write("d/real.m3u", "REAL\\x\r\n");
		Write("real.m3u", "WRONG\\y\r\n");
		fs::create_symlink("real.m3u", At("d/link.m3u"));
		fs::create_symlink("d/link.m3u", At("chain.m3u"));
		fs::create_symlink("nowhere.m3u", At("dangling.m3u"));
		fs::create_symlink(At("d/real.m3u"), At("d/absolute.m3u"));
		fs::create_symlink(longest + "d//real.m3u", At("longest.m3u"));
		fs::create_symlink(too_long + "d/real.m3ux", At("d/too-long.m3u"));
		fs::create_directory(At("links"));
		for (int link = 1; link <= 39; link++)	// links/N goes through N + 2 links
			fs::create_symlink(link == 1 ? "../chain.m3u" : std::to_string(link - 1),
			                   At("links/" + std::to_string(link)));
		ASSERT_EQ(lchown(At("d/link.m3u").c_str(), test.link_owner, -1), 0);
		ASSERT_EQ(chown(At("d/real.m3u").c_str(), test.file_owner, -1), 0);
		Options runner;
		runner.as_nobody = test.by_nobody;
		Expect({test.name}, test.status, Said(kTemp, test.name, test.message), runner);
		EXPECT_EQ(fs::read_symlink(At("d/link.m3u")), "real.m3u");
		EXPECT_EQ(Read("d/real.m3u"), test.status == 0 ? "./REAL/x\n\n" : "REAL\\x\r\n");
		EXPECT_EQ(Read("real.m3u"), "WRONG\\y\r\n");
		EXPECT_EQ(Files(), (Names{"chain.m3u", "d", "dangling.m3u", "links", "longest.m3u",
		                          "real.m3u"}));
	}
}

// Faults forced on the system calls of a run, as a full disk, a file
// system without permission bits, hard links or anonymous files, a second
// run or a signal would cause them.
TEST_F(EndToEnd, InjectedFaultsLoseNothing)
{
	if (Emulated() || !Traces())
		GTEST_SKIP() << "needs strace on a native program";
	// What the folder holds after: the playlist as it was or converted;
	// the original under the temporary name alone; both; or the playlist
	// as it was and the new file under its hidden name.
	enum After { kOriginal, kConverted, kOnlyAsTemp, kConvertedTempLeft, kNewFileLeft };
	struct Case {
		string why;
		Names faults;
		mode_t mode;
		int status;
		string message;
		After after;
		Names args = {"list.m3u"};
		int taken = 0;	// hidden names that other files have
		bool live = true;	// those files are locked, as live runs hold theirs
	};
	const auto hidden_name = [](int slot) { return ".~tandrel-new-" + std::to_string(slot) + ".m3u"; };
	const string publish_fails = "inject=linkat:error=EEXIST";
	// Without anonymous files the new file is made under a hidden name.
	const Names hidden = {"-e", "inject=openat:error=EOPNOTSUPP:when=@O_TMPFILE"};
	const auto with_hidden = [&](Names faults) {
		faults.insert(faults.begin(), hidden.begin(), hidden.end());
		return faults;
	};
	const string second_rename_fails = "inject=renameat2:error=EINVAL:when=2";
	const string hidden_0 = "@" + hidden_name(0);
	std::vector<Case> cases = {
		{"sync fails", {"-e", "inject=fsync:error=EIO"}, 0644, 2, kUnableWrite, kOriginal},
		{"close fails", with_hidden({"-e", "inject=close:error=EIO:when=@list.m3u>"}), 0644, 2,
		 kUnableWrite, kOriginal},
		{"read fails midway", {"-P", "list.m3u", "-e", "inject=read:error=EIO:when=2"}, 0644, 1,
		 kUnableRead, kOriginal},
		{"no anonymous files", hidden, 0644, 0, "", kConverted},
		{"no anonymous files, nine names taken", hidden, 0644, 0, "", kConverted, {"list.m3u"}, 9},
		{"no anonymous files, ten names taken", hidden, 0644, 2, kUnableOutput, kOriginal,
		 {"list.m3u"}, 10},
		{"no anonymous files, a killed run's file removed", hidden, 0644, 0, "", kConverted,
		 {"list.m3u"}, 1, false},
		{"no anonymous files, new file unknown", with_hidden({"-e",
		 "inject=newfstatat:error=EIO:when=" + hidden_0}), 0644, 2, kUnableOutput, kOriginal},
		{"no anonymous files, sync fails", with_hidden({"-e", "inject=fsync:error=EIO"}), 0644, 2,
		 kUnableWrite, kOriginal},
		{"no anonymous files, killed while writing", with_hidden({"-e",
		 "inject=fsync:signal=SIGKILL"}), 0644, 137, "", kNewFileLeft},
		{"no anonymous files, interrupted making the new file", with_hidden({"-e",
		 "inject=fchmod:signal=SIGINT"}), 0644, 130, "", kOriginal},
		// Naming the hidden file with link and unlink, which fail.
		{"no anonymous files, no renameat2, naming fails", with_hidden({"-e",
		 "inject=renameat2:error=EINVAL", "-e", "inject=linkat:error=EEXIST:when=2"}), 0644, 2,
		 kUnableOutput, kOriginal},
		{"no anonymous files, no renameat2, hidden name stays", with_hidden({"-e",
		 "inject=renameat2:error=EINVAL", "-e", "inject=unlinkat:error=EPERM:when=" + hidden_0}),
		 0644, 2, kUnableOutput, kOriginal},
		// Neither a rename that never replaces nor hard links, as on FAT.
		{"no anonymous files, no renameat2, no links", with_hidden({"-e",
		 "inject=renameat2:error=EINVAL", "-e", "inject=linkat:error=EPERM"}), 0644, 0, "",
		 kConverted},
		{"/proc cannot name the new file", {"-e", "inject=newfstatat:error=ENOENT:when=@/proc/self/fd"},
		 0644, 0, "", kConverted},
		{"no anonymous files, naming fails",
		 with_hidden({"-e", "inject=renameat2:error=EEXIST:when=2"}), 0644, 2, kUnableOutput,
		 kOriginal},
		{"new file locked", with_hidden({"-e", "inject=flock:error=EAGAIN:when=" + hidden_0}), 0644,
		 2, kUnableOutput, kOriginal},
		{"playlist locked", {"-P", "list.m3u", "-e", "inject=flock:error=EAGAIN"}, 0644, 1, kBusy,
		 kOriginal},
		{"naming fails", {"-e", publish_fails}, 0644, 2, kUnableOutput, kOriginal},
		{"move fails", {"-e", "inject=renameat2:error=EIO:when=1"}, 0644, 1, kUnableMove + ".",
		 kOriginal},
		{"temporary name taken at the move", {"-P", "list.m3u", "-e",
		 "inject=renameat2:error=EEXIST:when=1"}, 0644, 1, kBusyHere, kOriginal},
		{"no renameat2", {"-e", "inject=renameat2:error=EINVAL"}, 0644, 0, "", kConverted},
		{"no renameat2, link stays", {"-e", "inject=renameat2:error=EINVAL", "-e",
		 "inject=unlinkat:error=EPERM:when=1"}, 0644, 1, kNoPermission, kOriginal},
		{"no rename at all", {"-e", "inject=renameat2:error=EINVAL", "-e",
		 "inject=linkat:error=EPERM", "-e", "inject=renameat:error=EINVAL"}, 0644, 1,
		 kCannotRename, kOriginal},
		{"naming fails, nothing to put back with", {"-e", publish_fails, "-e", second_rename_fails},
		 0644, 2, kUnableOutput + kKeptAsTemp, kOnlyAsTemp},
		{"naming fails, link to put back stays", {"-e", "inject=linkat:error=EEXIST:when=1", "-e",
		 second_rename_fails,
		 "-e", "inject=unlinkat:error=EPERM:when=1"}, 0644, 2, kUnableOutput + kKeptAsTemp,
		 kOnlyAsTemp},
		{"no bits, the same anyway", {"-e", "inject=fchmod:error=EPERM"}, 0600, 0, "", kConverted},
		{"no bits, different ones", {"-e", "inject=fchmod:error=EPERM"}, 0664, 2, kUnableOutput,
		 kOriginal},
		{"owner not kept", {"-e", "inject=fchown:error=EPERM"}, 0640, 0, "", kConverted},
		{"access list unknown", {"-e", "inject=fgetxattr:error=EIO"}, 0644, 2, kUnableOutput,
		 kOriginal},
		{"temporary file stays", {"-e", "inject=unlinkat:error=EACCES"}, 0644, 0, kTempLeft,
		 kConvertedTempLeft},
		{"temporary file unchecked", {"-e", "inject=newfstatat:error=EIO:when=@temp.m3u\", {#2"},
		 0644, 0, kTempUnchecked, kConvertedTempLeft},
		// Signals during the commit wait for it; the run, finished, ends
		// with status 0, and says no more.
		{"interrupted at the move", {"-e", "inject=renameat2:signal=SIGINT"}, 0644, 0, "",
		 kConverted},
		{"interrupted putting back", {"-e", publish_fails, "-e",
		 "inject=renameat2:signal=SIGINT:when=2"}, 0644, 130, "", kOriginal},
		{"interrupted putting back midway", with_hidden({"-e", "inject=renameat2:error=EINVAL:when=2+",
		 "-e", "inject=linkat:error=EEXIST:when=1", "-e",
		 "inject=unlinkat:signal=SIGINT:when=@~tandrel-temp.m3u"}), 0644, 130, "", kOriginal},
		{"interrupted while syncing", {"-e", "inject=fsync:signal=SIGINT"}, 0644, 130, "",
		 kOriginal},
		{"interrupted removing the original", {"-e", "inject=unlinkat:error=EACCES:signal=SIGINT"},
		 0644, 0, "", kConvertedTempLeft},
		{"interrupted once it said the original stays", {"-e", "inject=unlinkat:error=EACCES", "-e",
		 "inject=close:signal=SIGINT:when=@~tandrel-temp.m3u>"}, 0644, 0, kTempLeft,
		 kConvertedTempLeft},
		{"killed between the moves", {"-e", "inject=linkat:signal=SIGKILL"}, 0644, 137, "",
		 kOnlyAsTemp},
		{"two files, close fails", {"-P", At("out.m3u"), "-e", "inject=close:error=EIO"}, 0644, 2,
		 kUnableWrite, kOriginal, {"list.m3u", "out.m3u"}},
		{"two files, read fails midway", {"-P", "list.m3u", "-e", "inject=read:error=EIO:when=2"},
		 0644, 1, kUnableRead + " \"out.m3u\" is incomplete.", kOriginal, {"list.m3u", "out.m3u"}},
		{"two files, read fails, then killed", {"-P", "list.m3u", "-e",
		 "inject=read:error=EIO:when=2", "-e", "inject=close:signal=SIGKILL"}, 0644, 137,
		 kUnableRead + " \"out.m3u\" is incomplete.", kOriginal, {"list.m3u", "out.m3u"}},
	};
	// Every signal that would end the run, sent as the new playlist takes
	// the name: it waits for the commit, and the run ends with status 0.
	// The program's own faults are not caught: they end the run there, as
	// a kill would.
	for (int signal_number : {SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM,
	                          SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT, SIGRTMIN,
	                          SIGRTMAX})
		cases.push_back({strsignal(signal_number), {"-e", "inject=linkat:signal=" +
		                 std::to_string(signal_number)}, 0644, 0, "", kConverted});
	for (int signal_number : {SIGILL, SIGTRAP, SIGBUS, SIGFPE, SIGSEGV, SIGSYS})
		cases.push_back({strsignal(signal_number), {"-e", "inject=linkat:signal=" +
		                 std::to_string(signal_number)}, 0644, 128 + signal_number, "",
		                 kConvertedTempLeft});
	const size_t copies = 10000;	// past the first read
	const string playlist = Repeat(kWindowsList, copies);

	for (const Case &test : cases) {
		SCOPED_TRACE(test.why);
		Names files = {"list.m3u"};
		const auto prepare = [&] {
			RemoveAll();
			Write("list.m3u", playlist, test.mode);
			for (int slot = 0; slot < test.taken; slot++) {
				Write(hidden_name(slot), "somebody's");
				int held = open(At(hidden_name(slot)).c_str(), O_RDONLY);
				if (test.live && held >= 0 && flock(held, LOCK_EX) == 0)
					held_.push_back(held);
			}
		};
		for (int slot = 0; test.live && slot < test.taken; slot++)
			files.push_back(hidden_name(slot));
		Options options;
		options.faults = Resolved(test.faults, test.args, prepare);
		prepare();
		const bool in_place = test.args.size() == 1;
		Expect(test.args, test.status,
		       Said(in_place ? kTemp : "list.m3u", test.args.back(), test.message), options);
		if (!in_place)
			files.push_back("out.m3u");
		if (test.after == kOnlyAsTemp)
			files = {kTemp};
		if (test.after == kConvertedTempLeft)
			files.push_back(kTemp);
		if (test.after == kNewFileLeft)
			files.push_back(hidden_name(0));
		std::sort(files.begin(), files.end());
		EXPECT_EQ(Files(), files);
		for (int slot = 0; test.live && slot < test.taken; slot++)
			EXPECT_EQ(Read(hidden_name(slot)), "somebody's");
		for (int held : held_)
			close(held);
		held_.clear();
		if (test.after == kOnlyAsTemp || test.after == kConvertedTempLeft) {
			EXPECT_TRUE(Read(kTemp) == playlist);
		}
		if (test.after == kOnlyAsTemp)
			continue;
		struct stat status;
		ASSERT_EQ(stat(At("list.m3u").c_str(), &status), 0);
		EXPECT_EQ(status.st_mode & 07777, test.mode);
		const bool converted = test.after != kOriginal && test.after != kNewFileLeft;
		EXPECT_TRUE(Read("list.m3u") == (converted ? ConvertedCopies(copies) : playlist));
	}
}

// A signal in the middle of a run: while the new playlist is written the
// name leads to the whole original, and after the signal the playlist is
// whole under its name and nothing else is left (under Wine, the new file
// has a hidden name that the interrupt removes). A signal ignored from the
// start stays ignored; one sent while a failure waits to be said ends the
// run. A two-file run leaves its input alone.
TEST_F(EndToEnd, InterruptedRunsLeaveThePlaylistWhole)
{
	struct Case {
		int signal_number;
		Names args;
		Options options;
		bool native_only;
		bool ignored = false;	// the run goes through
	};
	Options nohup;
	nohup.ignore_hangup = true;
	// A run that fails and waits to say so: standard output a full pipe.
	Options saying;
	saying.file_size = 1024;
	saying.stdout_room = Said(kTemp, "list.m3u").size();
	const Names in_place = {"list.m3u"};
	std::vector<Case> cases = {
		{SIGINT, in_place, {}, false},
		{SIGINT, {"list.m3u", "out.m3u"}, {}, false},
		{SIGHUP, in_place, nohup, true, true},
		{SIGINT, in_place, saying, true},
		// Not caught: the playlist was never touched.
		{SIGKILL, in_place, {}, true},
	};
	const string &big = BigList();

	for (const Case &test : cases) {
		SCOPED_TRACE(strsignal(test.signal_number) + string(" ") + test.args.back());
		if (test.native_only && Emulated())
			continue;
		const auto ready = [&](pid_t run) {
			return test.options.stdout_room > 0 ? WaitsIn(run, SYS_write, "0x1") : WroteAQuarter(run);
		};
		const pid_t child = StopMidway(test.args, test.options,
		                               [&] { RemoveAll(); Write("list.m3u", big); }, ready);
		EXPECT_TRUE(Read("list.m3u") == big) << "a reader met part of a playlist";
		kill(child, test.signal_number);
		kill(child, SIGCONT);
		// Ended by the signal, the run wrote no more than it had.
		siginfo_t ended = {};
		waitid(P_PID, child, &ended, WEXITED | WNOWAIT);
		if (!test.ignored && test.options.stdout_room == 0) {
			EXPECT_LT(Written(child), big.size() / 2);
		}
		Outcome outcome = Finish(child, 60);
		EXPECT_EQ(outcome.status, test.ignored ? 0 : InterruptedStatus(test.signal_number));
		if (test.options.stdout_room == 0) {
			EXPECT_EQ(outcome.out, Said(test.args.size() == 1 ? kTemp : "list.m3u",
			                            test.args.back()));
		}
		EXPECT_TRUE(Read("list.m3u") == (test.ignored ? ConvertedCopies(kBigCopies) : big));
		EXPECT_EQ(Files(), test.args.size() == 1 ? in_place : (Names{"list.m3u", "out.m3u"}));
	}
}

// A second run or a reader, while a run writes the new playlist or gives
// it the playlist's name (strace holds that call back a second), from
// this folder or another: it meets the whole original, is refused, or
// meets the whole new playlist. None ends with status 0 on part of one.
TEST_F(EndToEnd, RunsAtOnceNeverMeetHalfAPlaylist)
{
	struct Case {
		const char *why;
		Names pause;	// strace arguments holding the first run, or none
		string folder;	// where the second runs
		Names args;
		int status;
		string message;
		bool stopped = false;	// the held run is stopped too, past the wait
	};
	const Names before_naming = {"-P", "list.m3u", "-e", "inject=linkat:delay_enter=1000000"};
	const Names after_naming = {"-P", "list.m3u", "-e", "inject=linkat:delay_exit=1000000"};
	const Case cases[] = {
		{"writing", {}, "other", {"../list.m3u"}, 1, kBusy},
		{"writing", {}, "", {"list.m3u"}, 1, kBusy},
		{"writing, a reader", {}, "", {"list.m3u", "copy.m3u"}, 0, ""},
		{"writing, a two-file run onto it", {}, "", {"b.m3u", "list.m3u"}, 2, kBusy},
		{"writing, another playlist here", {}, "", {"b.m3u"}, 0, ""},
		{"before the naming", before_naming, "other", {"../list.m3u"}, 1, kUnableInput},
		{"after the naming", after_naming, "other", {"../list.m3u"}, 1, kBusy},
		// Runs in one folder take turns with their moves.
		{"before the naming, another playlist here", before_naming, "", {"b.m3u"}, 0, ""},
		{"before the naming, stopped", before_naming, "", {"b.m3u"}, 1, kBusyHere, true},
	};
	const string &big = BigList();

	for (const Case &test : cases) {
		SCOPED_TRACE(test.why);
		if (!test.pause.empty() && (Emulated() || !Traces()))
			continue;
		Options first, second;
		first.faults = test.pause;
		second.folder = test.folder;
		const auto prepare = [&] {
			RemoveAll();
			Write("list.m3u", test.pause.empty() ? big : kWindowsList);
			Write("b.m3u", kWindowsList);
			fs::create_directory(At("other"));
		};
		pid_t child;
		if (test.pause.empty()) {
			child = StopMidway({"list.m3u"}, first, prepare, WroteAQuarter);
		} else {	// held by strace, not stopped
			prepare();
			child = Start({"list.m3u"}, first);
			ASSERT_TRUE(WaitWhileRunning(child, [&] { return fs::exists(At(kTemp)); }));
		}
		if (test.stopped)
			kill(Traced(child), SIGSTOP);
		const string &from = test.args.size() == 1 ? kTemp : test.args[0];
		Expect(test.args, test.status, Said(from, test.args.back(), test.message), second);
		kill(test.stopped ? Traced(child) : child, SIGCONT);
		EXPECT_EQ(Finish(child).status, 0);
		const string converted = test.pause.empty() ? ConvertedCopies(kBigCopies) : Nl(kUnixList);
		EXPECT_TRUE(Read("list.m3u") == converted);
		// A reader converted the whole original; a run on b.m3u, once done,
		// converted that.
		const bool reader = test.args.back() == "copy.m3u";
		EXPECT_TRUE(!reader || Read("copy.m3u") == converted);
		const bool b_converted = test.args == Names{"b.m3u"} && test.status == 0;
		EXPECT_EQ(Read("b.m3u"), b_converted ? Nl(kUnixList) : kWindowsList);
		EXPECT_EQ(Files(), reader ? (Names{"b.m3u", "copy.m3u", "list.m3u", "other"})
		                          : (Names{"b.m3u", "list.m3u", "other"}));
	}
}

// Names changed while a run pauses (strace holds one call back a second):
// what the run did not make is neither followed, replaced nor converted. A
// link planted where the new playlist goes leaves the original under the
// temporary name, and the message says so while that is where it is; a
// playlist swapped for another file or removed is left as it is now.
TEST_F(EndToEnd, NamesChangedMidwayAreLeftAlone)
{
	if (Emulated() || !Traces())
		GTEST_SKIP() << "needs strace on a native program";
	struct Case {
		const char *why;
		Names faults;	// strace arguments that hold a call back
		std::function<bool(pid_t)> held;	// the call is held back now
		std::function<void()> change;
		int status;
		string message;
		Names after;
		Names args = {"list.m3u"};
		std::function<void()> setup = [] {};
	};
	const auto hold = [](const string &call) {
		return Names{"-P", "list.m3u", "-e", "inject=" + call + ":delay_enter=1000000"};
	};
	// A new file under a hidden name: its close, once named, is held back,
	// and may fail.
	const Names close_held = {"-e", "inject=openat:error=EOPNOTSUPP:when=@O_TMPFILE", "-e",
	                          "inject=close:delay_enter=1000000:when=@list.m3u>"};
	Names close_fails = close_held;
	close_fails.back() = "inject=close:error=EIO:delay_enter=1000000:when=@list.m3u>";
	const auto in = [](long call) { return [call](pid_t run) { return WaitsIn(Traced(run), call); }; };
	// strace skips a call it fails: only the names show it was reached.
	const auto named = [&](pid_t) { return fs::exists(At(kTemp)) && fs::exists(At("list.m3u")); };
	const string file = "file holding ", other = "other.m3u: " + file + "swapped in\r\n";
	const string victim = "victim: " + file + "not yours", original = kTemp + ": " + file;
	const string swapped = "list.m3u: " + file + "swapped in\r\n";
	const auto plant = [&] { fs::create_symlink("victim", At("list.m3u")); };
	const auto swap = [&] { fs::rename(At("other.m3u"), At("list.m3u")); };
	const Case cases[] = {
		{"link planted", hold("linkat"), in(SYS_linkat), plant, 2, kUnableOutput + kKeptAsTemp,
		 {"list.m3u: link to victim", other, victim, original + kWindowsList}},
		{"link planted, original moved on", hold("linkat"), in(SYS_linkat),
		 [&] { plant(); fs::rename(At(kTemp), At("moved.m3u")); }, 2, kUnableOutput,
		 {"list.m3u: link to victim", "moved.m3u: " + file + kWindowsList, other, victim}},
		{"playlist swapped", hold("renameat2"), in(SYS_renameat2), swap, 1, kChanged, {swapped, victim}},
		{"playlist removed", hold("renameat2"), in(SYS_renameat2), [&] { fs::remove(At("list.m3u")); },
		 1, kChanged, {other, victim}},
		{"original replaced", close_held, named,
		 [&] { fs::rename(At(kTemp), At("moved.m3u")); fs::rename(At("other.m3u"), At(kTemp)); },
		 0, "", {"list.m3u: " + file + kUnixList, "moved.m3u: " + file + kWindowsList, victim,
		         kTemp + ": " + file + "swapped in\r\n"}},
		{"new playlist replaced", close_fails, named, swap, 2, kUnableWrite + kKeptAsTemp,
		 {swapped, victim, original + kWindowsList}},
		{"another's link swapped in while the link is read", {"-e",
		 "inject=readlinkat:delay_enter=1000000"}, in(SYS_readlinkat), [&] {
			fs::create_symlink("victim", At("swap"));
			EXPECT_TRUE(lchown(At("swap").c_str(), 65534, 65534) == 0 || getuid() != 0);
			fs::rename(At("swap"), At("list.m3u"));
		 }, 0, "", {"list.m3u: link to victim", other, "real.m3u: " + file + kUnixList, victim},
		 {"list.m3u"}, [&] {
			fs::rename(At("list.m3u"), At("real.m3u"));
			fs::create_symlink("real.m3u", At("list.m3u"));
		 }},
		{"a folder of the path swapped for a link", hold("linkat"), in(SYS_linkat), [&] {
			fs::rename(At("music"), At("old"));
			fs::create_symlink("vault", At("music"));
		 }, 0, "", {"music: link to vault", "old/list.m3u: " + file + kUnixList, "old: folder",
		            other, "vault: folder", victim}, {"music/list.m3u"}, [&] {
			fs::create_directory(At("music"));
			fs::create_directory(At("vault"));
			fs::rename(At("list.m3u"), At("music/list.m3u"));
		 }},
		{"written to while read", {"-e", "inject=fsync:delay_enter=1000000"}, in(SYS_fsync),
		 [&] { std::ofstream(At("list.m3u"), std::ios::app) << "Music\\added.mp3\r\n"; }, 1,
		 kWritten, {"list.m3u: " + file + kWindowsList + "Music\\added.mp3\r\n", other, victim}},
		{"written over while read, its size the same", {"-e", "inject=fsync:delay_enter=1000000"},
		 in(SYS_fsync), [&] { std::fstream(At("list.m3u"), std::ios::in | std::ios::out) << "#X"; },
		 1, kWritten, {"list.m3u: " + file + "#X" + kWindowsList.substr(2), other, victim}},
		{"playlist swapped, from the folder above", hold("renameat2"), in(SYS_renameat2), [&] {
			fs::rename(At("d/list.m3u"), At("d/moved.m3u"));
			fs::rename(At("other.m3u"), At("d/list.m3u"));
		 }, 1, kChanged, {"d/list.m3u: " + file + "swapped in\r\n", "d/moved.m3u: " + file +
		                  kWindowsList, "d: folder", victim}, {"d/list.m3u"}, [&] {
			fs::create_directory(At("d"));
			fs::rename(At("list.m3u"), At("d/list.m3u"));
		 }},
		{"naming fails, from the folder above", {"-e", "inject=linkat:error=EEXIST"},
		 [](pid_t) { return true; }, [] {}, 2, kUnableOutput, {"d/list.m3u: " + file + kWindowsList,
		 "d: folder", other, victim}, {"d/list.m3u"}, [&] {
			fs::create_directory(At("d"));
			fs::rename(At("list.m3u"), At("d/list.m3u"));
		 }},
		// Another folder than the playlist's: nobody reads the original
		// there who could not before, and its hard link has its bits back.
		{"original aside, owner's bits alone", hold("linkat"), in(SYS_linkat), [&] {
			struct stat aside;
			EXPECT_EQ(stat(At(kTemp).c_str(), &aside), 0);
			EXPECT_EQ(aside.st_mode & 0777, 0600u);
		 }, 0, "", {"d/list.m3u: " + file + kUnixList, "d: folder", "hard.m3u: " + file +
		            kWindowsList, other, victim}, {"d/list.m3u"}, [&] {
			fs::create_directory(At("d"));
			fs::rename(At("list.m3u"), At("d/list.m3u"));
			fs::create_hard_link(At("d/list.m3u"), At("hard.m3u"));
		 }},
	};

	for (const Case &test : cases) {
		SCOPED_TRACE(test.why);
		const auto prepare = [&] {
			RemoveAll();
			Write("list.m3u", kWindowsList);
			Write("other.m3u", "swapped in\r\n");
			Write("victim", "not yours");
			test.setup();
		};
		Options paused;
		paused.faults = Resolved(test.faults, test.args, prepare);
		prepare();
		pid_t child = Start(test.args, paused);
		ASSERT_TRUE(WaitWhileRunning(child, [&] { return test.held(child); }));
		test.change();
		Outcome outcome = Finish(child);
		EXPECT_EQ(outcome.status, test.status);
		EXPECT_EQ(outcome.out, Said(kTemp, test.args[0], test.message));
		EXPECT_EQ(Snapshot(), test.after);
		// Every file keeps its bits: the original's come back wherever it is.
		for (const auto &entry : fs::recursive_directory_iterator(work_)) {
			struct stat status;
			EXPECT_TRUE(lstat(entry.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
			            (status.st_mode & 0777) == 0644) << entry.path();
		}
	}
}

}  // namespace

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	for (int i = 1; i < argc; i++) {
		string arg = argv[i];
		if (arg.rfind("--program=", 0) == 0)
			program = fs::absolute(arg.substr(10)).string();
		else if (arg.rfind("--launcher=", 0) == 0)
			launcher.push_back(arg.substr(11));
		else if (arg == "--crlf")
			crlf = true;
	}
	return RUN_ALL_TESTS();
}
