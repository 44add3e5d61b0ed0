// Runs the built tandrel in a scratch directory and checks what a user
// sees: standard output to the byte, an empty standard error, the exit
// status, and every file left in the directory with its bits. Every case
// is a Row of a table, and one runner, Check, runs them all.
//
// Arguments: --program=PATH names the program; --launcher=WORD, given once
// or more, the command that runs it (an emulator and its settings), which
// exits 77 when told --check on a host where it cannot run; --crlf says that
// the program ends its lines with CR LF.
#include <gtest/gtest.h>

#include "frontend/messages.h"
#include "stream_util.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
	std::vector<string> environment;	// NAME=VALUE settings
	string program;	// another program to run, where given
};

string program;
std::vector<string> launcher;
bool crlf = false;
string holder;	// a Windows program that holds a file open, where given

bool Emulated()
{
	return !launcher.empty();
}

// Asked once: whether the emulator can run at all on this host, and if not
// what it says why.
const string &LauncherFault()
{
	static const string fault = [] {
		string command;
		for (const string &word : launcher)
			command += "'" + word + "' ";
		FILE *said = popen((command + "--check 2>&1").c_str(), "r");
		string text;
		for (int c; said != nullptr && (c = fgetc(said)) != EOF;)
			text += static_cast<char>(c);
		return said != nullptr && pclose(said) == 0 ? string() : text + " ";
	}();
	return fault;
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

const string kBannerLines = string(kBanner) + "\n";
const string kTemp = kTempName;

// The line after a failure to open: which file, and why.
string Reason(const string &name, const string &why)
{
	return "\"" + name + "\": " + why + ".";
}

// Where the original stays aside with its owner's bits alone: what they
// were.
string KeptLowered(mode_t mode)
{
	char ending[512];
	snprintf(ending, sizeof ending, kKeptAsTempLoweredFormat, static_cast<unsigned long>(mode));
	return ending;
}

string Untrusted(const string &name)
{
	string text = kUntrustedFormat;
	return text.replace(text.find("%s"), 2, name);
}

// What a run prints: the banner, the progress line, then the lines given.
string Said(const string &from, const string &to, const string &lines = "")
{
	string text = kBannerLines + "Processing \"" + from + "\" to \"" + to + "\"...\n";
	if (!lines.empty())
		text += lines + "\n";
	return Nl(text);
}

string Slurp(const fs::path &path)
{
	std::ifstream file(path, std::ios::binary);
	std::ostringstream bytes;
	bytes << file.rdbuf();
	return bytes.str();
}

// A file as a snapshot shows it: its name (a run's hidden name with its
// number left out), its bits, and what it holds, a large file by its size
// and a digest.
string File(string name, const string &bytes, mode_t mode = 0644)
{
	for (const char *kind : {".~tandrel-new-", ".~tandrel-old-"}) {
		const size_t hidden = name.find(kind);
		if (hidden != string::npos)
			name = name.substr(0, hidden) + kind + "N.m3u";
	}
	char bits[16];
	snprintf(bits, sizeof bits, "%04o", static_cast<unsigned>(mode));
	string holds = bytes;
	if (bytes.size() > 2000)
		holds = std::to_string(bytes.size()) + " bytes, digest " +
		        std::to_string(std::hash<string>()(bytes));
	return name + ": file " + bits + " holding " + holds;
}

string Link(const string &name, const string &target)
{
	return name + ": link to " + target;
}

string Folder(const string &name)
{
	return name + ": folder";
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

// Where a case can be shown: the emulator cannot show all, some it alone
// can, and only root can stage another user's files.
enum Where { kEverywhere, kNative, kEmulated, kAsRoot };

// What a refused run finds before it. Link and hard link hold the name
// they lead to; a held file is locked by another process, as a run locks
// its playlist; another's link is owned by nobody. A full device is the
// test's own node like /dev/full, where root may make one: a faulty build
// run by root must not replace the machine's.
enum Kind { kFile, kFolder, kFifo, kLink, kHardLink, kHeldFile, kAnothersLink, kFullDevice };

struct Found {
	string name;
	Kind kind;
	string holds;
	mode_t mode = 0644;
};

// The snapshot a row expects after the run where it is the one before, and
// where the row's own check looks at the files instead.
const Names kAsBefore = {"(as before)"};
const Names kNotLooked = {"(not looked at)"};

// One case of any table: the files before, the run, what happens while it
// runs, and what it must end with.
struct Row {
	string why;
	Names args = {"list.m3u"};	// the input first; one name converts it in place
	int status = 0;
	string said = "";	// the lines after the progress line, "" for none
	Names after = kAsBefore;	// what the work folder holds then
	Where where = kEverywhere;
	Options options = {};
	// The files before; where none is given, list.m3u holding the Windows
	// playlist.
	std::function<void()> setup = nullptr;
	// Where given, the run is caught once held says so (a call strace holds
	// back, or, with stop, the run stopped there) and meanwhile acts.
	std::function<bool(pid_t)> held = nullptr;
	std::function<void(pid_t)> meanwhile = nullptr;
	bool stop = false;
	std::function<void()> check = nullptr;	// more to check after
	// How Windows, its standard output redirected, shows the names: in the
	// ANSI code page, "?" for what is not in it.
	Names shown = {};
};

class EndToEnd : public ::testing::Test {
protected:
	void SetUp() override
	{
		ASSERT_FALSE(program.empty()) << "no --program=PATH given";
		if (Emulated() && !LauncherFault().empty())
			GTEST_SKIP() << "the emulator cannot run on this host: " << LauncherFault();
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

	// Every name below the work folder, with what it is and holds (see
	// File), as the rows of a table expect them.
	Names Snapshot() const
	{
		Names seen;
		for (const auto &entry : fs::recursive_directory_iterator(work_)) {
			const fs::path path = entry.path();
			const string name = path.lexically_relative(work_).string();
			struct stat status;
			if (lstat(path.c_str(), &status) != 0)
				seen.push_back(name + ": gone");
			else if (S_ISLNK(status.st_mode))
				seen.push_back(Link(name, fs::read_symlink(path).string()));
			else if (S_ISREG(status.st_mode))
				seen.push_back(File(name, Slurp(path), status.st_mode & 07777));
			else
				seen.push_back(name + (S_ISDIR(status.st_mode) ? ": folder" : ": special"));
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
		if (!options.program.empty())
			return options.program;
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
		for (const string &setting : options.environment) {
			const size_t equals = setting.find('=');
			setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
		}
		// Nobody's groups list its own first, as a login's do.
		const gid_t groups[] = {65534, options.also_in};
		if (options.as_nobody && getuid() == 0 &&
		    (setgroups(options.also_in != 0 ? 2 : 1, groups) != 0 ||
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
	Names Resolved(const Names &faults, const Names &args, const std::function<void()> &prepare,
	               const Options &options = Options())
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
			Options dry = options;
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

	// Whether a row's case can be shown here.
	static bool Shown(const Row &row)
	{
		if (!row.options.faults.empty() && (Emulated() || !Traces()))
			return false;
		switch (row.where) {
		case kEverywhere:
			return true;
		case kNative:
			return !Emulated();
		case kEmulated:
			return Emulated();
		case kAsRoot:
			return !Emulated() && getuid() == 0;
		}
		return false;
	}

	// What a row's run prints.
	static string SaidBy(const Row &row)
	{
		if (row.args.size() > 2)
			return Nl(kBannerLines + kUsage + "\n" + kTooManyNames + "\n");
		const Names &names = Emulated() && !row.shown.empty() ? row.shown : row.args;
		return Said(names.size() == 1 ? kTemp : names[0], names.back(), row.said);
	}

	// Starts the holder on name, letting others do what sharing says (r, w,
	// d), and waits until it holds the file.
	pid_t StartHolder(const string &name, const string &sharing)
	{
		Options options;
		options.program = holder;
		const pid_t child = Start({name, sharing, "30"}, options);
		const string said = (scratch_ / ("stdout" + run_of_[child])).string();
		EXPECT_TRUE(WaitWhileRunning(child, [&] { return Slurp(said).find("held") != string::npos; }))
		    << "the holder could not hold " << name;
		return child;
	}

	// The one runner: sets up the row's files, runs, catches the run where
	// the row says and acts meanwhile, then checks status, standard output
	// and error, and every file left.
	void Check(const Row &row)
	{
		SCOPED_TRACE(row.why);
		if (!Shown(row))
			return;
		const auto prepare = [&] {
			RemoveAll();
			if (row.setup)
				row.setup();
			else
				Write("list.m3u", kWindowsList);
		};
		Options options = row.options;
		options.faults = Resolved(row.options.faults, row.args, prepare, row.options);
		// Wine's server, started by a run without the limit, outlives it
		// by seconds: the limit then reaches only the program.
		if (Emulated() && options.file_size != RLIM_INFINITY)
			Run({});
		prepare();
		const Names before = Snapshot();
		const pid_t child = row.stop ? StopMidway(row.args, options, prepare, row.held)
		                             : Start(row.args, options);
		if (row.held && !row.stop) {
			ASSERT_TRUE(WaitWhileRunning(child, [&] { return row.held(child); }))
			    << "the run ended before it was caught";
		}
		if (row.meanwhile)
			row.meanwhile(child);
		if (row.stop)
			kill(child, SIGCONT);
		Outcome outcome = Finish(child, 120);
		EXPECT_EQ(outcome.status, row.status);
		// Standard output a pipe: what went there is not seen.
		if (row.options.stdout_room == 0 && !row.options.closed_stdout) {
			EXPECT_EQ(outcome.out, SaidBy(row));
		}
		EXPECT_EQ(outcome.err, "");
		if (row.after != kNotLooked) {
			Names after = row.after == kAsBefore ? before : row.after;
			std::sort(after.begin(), after.end());
			EXPECT_EQ(Snapshot(), after);
		}
		if (row.check)
			row.check();
		for (int descriptor : held_)
			close(descriptor);
		held_.clear();
	}

	void CheckAll(const std::vector<Row> &rows)
	{
		for (const Row &row : rows)
			Check(row);
	}

	// Makes the files found, as a refused run finds them.
	void Stage(const std::vector<Found> &before)
	{
		for (const Found &found : before) {
			const fs::path path = At(found.name);
			if (found.kind == kFile || found.kind == kHeldFile)
				Write(found.name, found.holds, found.mode);
			else if (found.kind == kFolder)
				fs::create_directory(path);
			else if (found.kind == kFifo)
				ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
			else if (found.kind == kHardLink)
				fs::create_hard_link(At(found.holds), path);
			else if (found.kind == kFullDevice && getuid() == 0)
				ASSERT_EQ(mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
			else if (found.kind == kFullDevice)
				fs::create_symlink("/dev/full", path);
			else
				fs::create_symlink(found.holds, path);
			if (found.kind == kHeldFile)
				Hold(found.name);
			if (found.kind == kAnothersLink) {
				ASSERT_EQ(lchown(path.c_str(), 65534, 65534), 0);
			}
		}
		// Nobody reaches the work folder, and may write it.
		chmod(scratch_.c_str(), 0755);
		chmod(work_.c_str(), 0777);
	}

	// Holds the file locked, as a run holds the playlist it converts.
	void Hold(const string &name)
	{
		int held = open(At(name).c_str(), O_RDONLY);
		if (held >= 0 && flock(held, LOCK_EX) == 0)
			held_.push_back(held);
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
	Expect({}, 0, Nl(kBannerLines + kNotice + "\n" + kUsage + "\n"));
	EXPECT_EQ(Files(), Names{});
}

// What a run makes of a playlist, in place and from one file to another,
// with the bits it had. On Windows CR LF reads as a line feed, 0x1A bytes
// at the very end are dropped and every line feed written becomes CR LF;
// elsewhere bytes are not translated.
TEST_F(EndToEnd, RunsWriteTheConvertedPlaylist)
{
	const string ends = "a\\b\r\nc\nd\re\r\n#f\x1Ag\r\nh\r\n";
	const string entry = Repeat("dir\\", 1500), comment = "#" + Repeat("c\\ ", 1500);
	const string entry_out = "./" + Repeat("dir/", 1500);
	const string long_in = entry + "x.mp3   \r\n" + comment + "\r\n";
	const string long_out = Nl(entry_out + "x.mp3\n" + comment.substr(0, comment.size() - 1) + "\n\n");
	const string mark = "\xEF\xBB\xBF", padded = "a\\b\r\n\x1A\x1A";
	const string old = "old contents, longer than nothing";
	std::vector<Row> rows;
	// One name converts in place, two from the first to the second, over
	// what the second held.
	const auto converts = [&](const string &why, const Names &args, const string &input,
	                          const string &output, Where where = kEverywhere, mode_t mode = 0644) {
		Row row{why, args};
		row.where = where;
		row.setup = [=] {
			Write(args[0], input, mode);
			if (args.size() == 2)
				Write(args[1], old);
		};
		row.after = {File(args.back(), output, mode)};
		if (args.size() == 2)
			row.after.push_back(File(args[0], input, mode));
		std::sort(row.after.begin(), row.after.end());
		rows.push_back(row);
	};
	converts("in place", {"list.m3u"}, kWindowsList, Nl(kUnixList));
	// 0444 is read-only on Windows too.
	converts("in place, read-only", {"list.m3u"}, kWindowsList, Nl(kUnixList), kEverywhere, 0444);
	converts("-h is a file name", {"-h"}, "a\\b\n", Nl("./a/b\n\n"));
	converts("two names", {"in.m3u", "out.m3u"}, kWindowsList, Nl(kUnixList));
	converts("empty input gives one empty line", {"empty.m3u", "out.m3u"}, "", Nl("\n"));
	for (const Names &args : {Names{"in.m3u", "out.m3u"}, Names{"list.m3u"}}) {
		converts("line ends", args, ends, "./a/b\n./c\n./d\re\n#f\x1Ag\n./h\n\n", kNative);
		converts("0x1A bytes at the end", args, padded, "./a/b\n./\x1A\x1A\n", kNative);
		converts("0x1A bytes at the end", args, padded, "./a/b\r\n\r\n", kEmulated);
		converts("overlong lines whole, rewritten once", args, long_in, long_out);
	}
	converts("UTF-8 mark stays at the start", {"header.m3u"}, mark + "#EXTM3U\r\nMusic\\a.mp3\r\n",
	         Nl(mark + "#EXTM3U\n./Music/a.mp3\n\n"));
	converts("UTF-8 mark stays at the start", {"entry.m3u", "out.m3u"},
	         mark + "Music\\a.mp3\r\n" + mark + "b\r\n", Nl(mark + "./Music/a.mp3\n./" + mark + "b\n\n"));
	// An existing output keeps its bits; a new one has the user's.
	Row kept{"the output's bits kept", {"in.m3u", "out.m3u"}};
	kept.setup = [&] { Write("in.m3u", kWindowsList); Write("out.m3u", old, 0640); };
	kept.after = {File("in.m3u", kWindowsList), File("out.m3u", Nl(kUnixList), 0640)};
	kept.where = kNative;
	rows.push_back(kept);
	Row fresh{"a new output", {"in.m3u", "new.m3u"}};
	fresh.setup = [&] { Write("in.m3u", kWindowsList, 0600); };
	fresh.after = {File("in.m3u", kWindowsList, 0600), File("new.m3u", Nl(kUnixList))};
	rows.push_back(fresh);
	// A name outside the ANSI code page names that file, not a look-alike;
	// the name typed in another case is the playlist's, and keeps its own.
	Row unicode{"a name outside the code page", {"in.m3u", "\xC4\x81.m3u"}};
	unicode.setup = [&] { Write("in.m3u", kWindowsList); Write("a.m3u", "KEEP ME\r\n"); };
	unicode.after = {File("a.m3u", "KEEP ME\r\n"), File("in.m3u", kWindowsList),
	                 File("\xC4\x81.m3u", Nl(kUnixList))};
	unicode.shown = {"in.m3u", "?.m3u"};
	rows.push_back(unicode);
	const string cyrillic = "\xD0\x9C\xD1\x83\xD0\xBC\xD0\xB8\xD0\xB9.m3u";
	Row in_place_unicode{"in place, a name in Cyrillic", {cyrillic}};
	in_place_unicode.setup = [=] { Write(cyrillic, kWindowsList); };
	in_place_unicode.after = {File(cyrillic, Nl(kUnixList))};
	in_place_unicode.shown = {"?????.m3u"};
	rows.push_back(in_place_unicode);
	// Another spelling beside it, alike in size, times and bits: the name
	// typed is the file, whichever of the two the folder lists first.
	const string look_alike(kWindowsList.size(), '#');
	for (const Names &names : {Names{"Party.m3u", "party.m3u"}, Names{"party.m3u", "Party.m3u"}}) {
		Row beside{"another spelling beside it", {names[1]}};
		beside.where = kNative;
		beside.setup = [=] {
			Write(names[0], look_alike);
			Write(names[1], kWindowsList);
			const struct timespec times[2] = {{1000000000, 5}, {1000000000, 5}};
			for (const string &name : names)
				EXPECT_EQ(utimensat(AT_FDCWD, At(name).c_str(), times, 0), 0);
		};
		beside.after = {File("Party.m3u", names[0] == "Party.m3u" ? look_alike : kUnixList),
		                File("party.m3u", names[0] == "party.m3u" ? look_alike : kUnixList)};
		rows.push_back(beside);
	}
	Row typed{"the name typed in another case", {"PARTY.M3U"}};
	typed.where = kEmulated;
	typed.setup = [&] { Write("Party.m3u", kWindowsList); };
	typed.after = {File("Party.m3u", Nl(kUnixList))};
	rows.push_back(typed);
	// /dev/stdin is a UNIX name.
	Row piped{"piped", {"/dev/stdin", "piped.m3u"}};
	piped.options.input = kWindowsList.c_str();
	piped.setup = [] {};
	piped.after = {File("piped.m3u", kUnixList)};
	piped.where = kNative;
	rows.push_back(piped);
	CheckAll(rows);
}

// A run refused leaves every file as it found it, and makes none.
TEST_F(EndToEnd, RefusedRunsTouchNothing)
{
	const string little = string("\xFF\xFE#\0E\0\r\0\n\0a\0\\\0b\0", 16);
	const string big = string("\xFE\xFF\0#\0E", 6);
	const string little_unmarked = string("#\0E\0\r\0\n\0a\0\\\0b\0", 14);
	const string big_unmarked = string("\0#\0E\0X\0\r\0\n\0a", 12);
	// The first line empty, or of one character, hides nothing.
	const string little_late = string("\r\0\n\0#\0E\0\r\0\n\0a\0\\\0b\0", 18);
	const string big_late = string("\0A\0\r\0\n\0B\0\\\0c", 12);
	const string wide = string("\0\0\xFE\xFF\0\0\0#\0\0\0\n", 12);
	// Cyrillic in UTF-16LE without a mark: few zero bytes, all on one side.
	const string cyrillic = string("#\0E\0X\0T\0M\0\x33\0U\0\r\0\n\0\x1C\x04\x43\x04\\\0\x1A\x04.\0m\0p\0\x33\0", 34);
	const string hidden_text = "a\\1.mp3\r\nb\\2.mp3\x1A" "c\\3.mp3\r\nd\\4.mp3\r\n";
	const Found list = {"list.m3u", kFile, kWindowsList}, out = {"out.m3u", kFile, "keep me"};
	const Found a = {"a.m3u", kFile, kWindowsList}, b = {"b.m3u", kFile, "b\\x\r\n"};
	const Found large = {"list.m3u", kFile, Repeat(kWindowsList, 80)};
	Options piped, no_input, three_files, one_kilobyte, nobody;
	piped.input = "\xFF\xFE#\x01";
	no_input.closed_stdin = true;	// the next file opened takes descriptor 0
	three_files.open_files = 6;	// standard streams, the two folders and the input
	one_kilobyte.file_size = 1024;	// SIGXFSZ at its default, as users have it
	nobody.as_nobody = true;
	const string no_file = kUnableInput + ("\n" + Reason("none.m3u", kNoSuchFile));
	struct Refusal {
		const char *why;
		std::vector<Found> before;
		Names args;
		int status;
		string said;
		Where where = kEverywhere;
		Options options = {};
	};
	const Refusal refusals[] = {
		{"missing input", {}, {"none.m3u"}, 1, no_file},
		{"missing input", {}, {"none.m3u", "out.m3u"}, 1, no_file},
		{"--help is a file name", {}, {"--help"}, 1, kUnableInput + ("\n" + Reason("--help", kNoSuchFile))},
		{"output in no folder", {list}, {"list.m3u", "no/such/dir.m3u"}, 2,
		 kUnableOutput + ("\n" + Reason("no/such/dir.m3u", kNoSuchFolder))},
		// Three names or more: a glob or a batch would have the second
		// overwritten by the first.
		{"three names", {a, b, list}, {"a.m3u", "b.m3u", "list.m3u"}, 2, ""},
		{"four names", {a, b}, {"a.m3u", "b.m3u", "none.m3u", "-x"}, 2, ""},
		{"UTF-16", {{"little.m3u", kFile, little}}, {"little.m3u"}, 1, kInputUtf16},
		{"UTF-16", {{"big.m3u", kFile, big}}, {"big.m3u"}, 1, kInputUtf16},
		{"UTF-16", {{"little.m3u", kFile, little}, out}, {"little.m3u", "out.m3u"}, 1, kInputUtf16},
		{"UTF-16", {{"big.m3u", kFile, big}}, {"big.m3u", "new.m3u"}, 1, kInputUtf16},
		{"UTF-16 unmarked", {{"little.m3u", kFile, little_unmarked}}, {"little.m3u"}, 1, kInputUtf16},
		{"UTF-16 unmarked", {{"big.m3u", kFile, big_unmarked}, out}, {"big.m3u", "out.m3u"}, 1,
		 kInputUtf16},
		{"UTF-16 late", {{"little.m3u", kFile, little_late}}, {"little.m3u"}, 1, kInputUtf16},
		{"UTF-16 late", {{"big.m3u", kFile, big_late}, out}, {"big.m3u", "out.m3u"}, 1, kInputUtf16},
		{"UTF-16 Cyrillic", {{"ru.m3u", kFile, cyrillic}}, {"ru.m3u"}, 1, kInputUtf16},
		{"UTF-32", {{"wide.m3u", kFile, wide}}, {"wide.m3u"}, 1, kInputUtf32},
		// Windows' text mode would have cut the text at the 0x1A.
		{"text after a 0x1A", {{"sub.m3u", kFile, hidden_text}}, {"sub.m3u"}, 1, kInputEndMarked,
		 kEmulated},
		{"text after a 0x1A", {{"sub.m3u", kFile, hidden_text}, out}, {"sub.m3u", "out.m3u"}, 1,
		 kInputEndMarked, kEmulated},
		// /dev/stdin is a UNIX name.
		{"UTF-16 piped", {out}, {"/dev/stdin", "out.m3u"}, 1, kInputUtf16, kNative, piped},
		{"UTF-16 piped", {}, {"/dev/stdin", "new.m3u"}, 1, kInputUtf16, kNative, piped},
		{"stale file", {list, {kTemp, kFile, "somebody's file"}}, {"list.m3u"}, 1, kTempExists},
		{"stale file", {{kTemp, kFile, "somebody's file"}}, {kTemp}, 1, kTempExists},
		{"stale folder", {list, {kTemp, kFolder, ""}}, {"list.m3u"}, 1, kTempExists},
		// Wine looks through a UNIX link to nowhere and finds no file;
		// Windows itself has no such links.
		{"stale link", {list, {kTemp, kLink, "nowhere"}}, {"list.m3u"}, 1, kTempExists, kNative},
		{"another run's temporary file", {list, {kTemp, kHeldFile, "another's"}}, {"list.m3u"},
		 1, kBusyHere, kNative},
		{"name gone, temporary file here", {{kTemp, kFile, kWindowsList}}, {"list.m3u"}, 1,
		 kUnableInput + ("\n" + Reason("list.m3u", kMaybeAsTemp))},
		{"name gone, another run's temporary file", {{kTemp, kHeldFile, kWindowsList}},
		 {"list.m3u"}, 1, kBusyHere, kNative, no_input},
		// An in-place run that cannot make or write its new playlist. An
		// emulator itself needs more open files than that.
		{"no file left to open", {large}, {"list.m3u"}, 2, kUnableOutput, kNative, three_files},
		{"file size limit", {large}, {"list.m3u"}, 2, kUnableWrite, kEverywhere, one_kilobyte},
		{"folder", {{"folder.m3u", kFolder, ""}}, {"folder.m3u"}, 1,
		 kUnableInput + ("\n" + Reason("folder.m3u", kIsFolder))},
		{"fifo", {{"fifo.m3u", kFifo, ""}}, {"fifo.m3u"}, 1,
		 kUnableInput + ("\n" + Reason("fifo.m3u", kNotRegular))},
		{"device", {}, {"/dev/null"}, 1, kUnableInput + ("\n" + Reason("/dev/null", kNotRegular))},
		{"not readable", {{"list.m3u", kFile, kWindowsList, 0600}}, {"list.m3u", "out.m3u"}, 1,
		 kUnableInput + ("\n" + Reason("list.m3u", kNoPermissionRead)), kAsRoot, nobody},
		{"same name", {a}, {"a.m3u", "a.m3u"}, 2, kSameFile},
		{"same file", {a}, {"./a.m3u", "a.m3u"}, 2, kSameFile},
		{"same file", {a, {"sub", kFolder, ""}}, {"a.m3u", "sub/../a.m3u"}, 2, kSameFile},
		{"hard link", {a, {"hard.m3u", kHardLink, "a.m3u"}}, {"hard.m3u", "a.m3u"}, 2, kSameFile},
		{"link", {a, {"link.m3u", kLink, "a.m3u"}}, {"a.m3u", "link.m3u"}, 2, kSameFile},
		{"link", {a, {"link.m3u", kLink, "a.m3u"}}, {"link.m3u", "a.m3u"}, 2, kSameFile},
		{"full disk", {list, {"full", kFullDevice, ""}}, {"list.m3u", "full"}, 2, kUnableWrite},
		// The link's target found in its folder takes descriptor 0: still
		// a device, written where it is.
		{"full disk through a link, standard input closed", {list, {"d", kFolder, ""},
		 {"d/full", kFullDevice, ""}, {"full", kLink, "d/full"}}, {"list.m3u", "full"}, 2,
		 kUnableWrite, kNative, no_input},
		{"folder read", {{"folder.m3u", kFolder, ""}, out}, {"folder.m3u", "out.m3u"}, 1,
		 kUnableInput + ("\n" + Reason("folder.m3u", kIsFolder)), kNative},
		{"output a folder", {list, {"d", kFolder, ""}}, {"list.m3u", "d"}, 2,
		 kUnableOutput + ("\n" + Reason("d", kIsFolder))},
		{"output not writable", {list, {"out.m3u", kFile, "keep me", 0444}}, {"list.m3u", "out.m3u"},
		 2, kUnableOutput + ("\n" + Reason("out.m3u", kNoPermissionWrite)), kAsRoot, nobody},
		// Links another user made to root's files are not followed, for the
		// input or the output, nor in the folders of their targets.
		{"another's link to root's file", {a, {"link.m3u", kAnothersLink, "a.m3u"}},
		 {"link.m3u"}, 1, Untrusted("link.m3u"), kAsRoot},
		{"another's link to root's file, read", {a, {"link.m3u", kAnothersLink, "a.m3u"}},
		 {"link.m3u", "out.m3u"}, 1, Untrusted("link.m3u"), kAsRoot},
		{"another's link as the output", {a, list, {"link.m3u", kAnothersLink, "a.m3u"}},
		 {"list.m3u", "link.m3u"}, 2, Untrusted("link.m3u"), kAsRoot},
		{"another's link to a folder in a link's target",
		 {{"real", kFolder, ""}, {"real/x.m3u", kFile, kWindowsList}, {"d", kAnothersLink, "real"},
		  {"list.m3u", kLink, "d/x.m3u"}},
		 {"list.m3u"}, 1, Untrusted("list.m3u"), kAsRoot},
	};
	std::vector<Row> rows;
	for (const Refusal &refusal : refusals) {
		Row row{refusal.why, refusal.args, refusal.status, refusal.said};
		row.where = refusal.where;
		row.options = refusal.options;
		row.setup = [this, &refusal] { Stage(refusal.before); };
		rows.push_back(row);
	}
	// Another program holds the playlist, letting others read it but not
	// move it: after a second and a half of trying, the run says so.
	Row held{"another program holds the playlist", {"list.m3u"}, 1, kHeldByAnother};
	held.where = kEmulated;
	held.setup = [this] {
		Write("list.m3u", kWindowsList);
		StartHolder("list.m3u", "r");
	};
	rows.push_back(held);
	CheckAll(rows);
}

// A path through folders of 55 characters each.
string DeepFolder(int depth)
{
	string folder;
	for (int i = 0; i < depth; i++)
		folder += string(55, static_cast<char>('a' + i)) + "/";
	return folder;
}

// Names as long as the system takes them work, past Windows' old 260
// characters too; longer ones touch nothing. Linux takes paths under 4096
// bytes, and a name of more whose folder and last part each fit.
TEST_F(EndToEnd, LongNamesWorkAndTooLongNamesTouchNothing)
{
	const string folder = DeepFolder(5), deepest = DeepFolder(20);
	const string name = folder + string(20, 'p') + ".m3u", output = folder + "out.m3u";
	// The longest name Linux takes, 4095 bytes, and one byte more.
	const string longest = Repeat("./", 2044) + "iin.m3u";
	const string huge(5000, 'n');
	const string too_long = kUnableInput + ("\n" + Reason(huge, kNameTooLong));
	const auto converted = [this](const string &file) {
		return [this, file] {
			EXPECT_EQ(Read(file), Nl(kUnixList));
			EXPECT_FALSE(fs::exists(At(kTemp)));
		};
	};
	std::vector<Row> rows = {
		{"two names, 300 characters", {name, output}},
		{"in place, 300 characters", {name}},
		{"in place, 1,100 characters", {deepest + "list.m3u"}},
		{"the longest name as the input", {longest, "out.m3u"}},
		{"the longest name as the output", {"other.m3u", longest}},
		{"the longest name in place", {longest}},
		{"one byte more, as the input", {longest + "x", "new.m3u"}, 1,
		 kUnableInput + ("\n" + Reason(longest + "x", kNoSuchFile))},
		{"one byte more, as the output", {"iin.m3u", longest + "x"}},
		{"too long", {huge}, 1, too_long},
		{"too long", {huge, "out.m3u"}, 1, too_long},
		{"too long as the output", {"iin.m3u", huge}, 2,
		 kUnableOutput + ("\n" + Reason(huge, kNameTooLong))},
		{"too long, the input missing", {"none.m3u", huge}, 1,
		 kUnableInput + ("\n" + Reason("none.m3u", kNoSuchFile))},
	};
	const string converted_files[] = {output, name, deepest + "list.m3u", "out.m3u", "iin.m3u",
	                                  "iin.m3u", "", "iin.m3ux", "", "", "", ""};
	for (size_t i = 0; i < rows.size(); i++) {
		Row &row = rows[i];
		// Past 4095 bytes, or where a folder holds 2,000 dots, is Linux's.
		row.where = i < 3 ? kEverywhere : kNative;
		row.setup = [this, folder, deepest, name] {
			fs::create_directories(At(folder));
			fs::create_directories(At(deepest));
			for (const string &file : {name, deepest + "list.m3u", string("iin.m3u"),
			                           string("other.m3u")})
				Write(file, kWindowsList);
		};
		if (!converted_files[i].empty()) {
			row.after = kNotLooked;
			row.check = converted(converted_files[i]);
		}
	}
	CheckAll(rows);
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
// another file system, the original cannot move there; where, aside in the
// current folder, it could be read by users who cannot now, and its bits
// cannot be lowered and given back whole, it does not go there. Either way
// nothing is touched, every bit stays, and the message says why; bits that
// can be lowered and given back do not stop it.
TEST_F(EndToEnd, MovesThatCannotBeMadeTouchNothing)
{
	char other[] = "/dev/shm/tandrel-e2e-XXXXXX";
	const string shared = (scratch_ / "shared").string();
	const string club = (scratch_ / "club").string(), behind = club + "/shared";
	struct stat here, there;
	const bool elsewhere = mkdtemp(other) != nullptr && stat(other, &there) == 0 &&
	                       stat(work_.c_str(), &here) == 0 && here.st_dev != there.st_dev;
	// Run by nobody, on nobody's playlist unless said, 0666 unless said, in
	// the folder given ("" for the current one).
	struct Move {
		const char *why;
		string folder;
		mode_t here;	// the current folder's mode
		int status;
		string said;
		Where where;
		uid_t owner = 65534;
		mode_t mode = 0666;
		gid_t group = 65534;
		bool hard_link = false;
		gid_t also_in = 0;	// a group the runner, nobody, is in
		mode_t after = 0;	// the mode it ends with, where not its own
	};
	const string cannot_lower = kUnableMove + string(kCannotLower);
	const Move moves[] = {
		{"another file system", other, 0755, 1, kUnableMove + string(kOtherFileSystem), kEverywhere},
		{"playlist's folder read-only", "", 0555, 2, kUnableOutput + string(kReadOnlyFolder), kNative},
		{"current folder read-only", shared, 0555, 1, kUnableMove + string(kNoPermission), kNative},
		// A current folder that cannot even be searched hides no file
		// in the way: the move is what fails.
		{"current folder closed", shared, 0700, 1, kUnableMove + string(kNoPermission), kAsRoot},
		// Root's playlist could be neither moved back from nor removed in a
		// sticky folder of root's.
		{"current folder sticky", shared, 01777, 1, kStrandedHere, kAsRoot, 0},
		// Aside here, root's playlist would be open to all, and nobody may
		// not lower its bits.
		{"another's playlist elsewhere", behind, 0777, 1, cannot_lower, kAsRoot, 0, 0666, 0, false, 100},
		// Lowered, nobody's set-group-ID bit of a group not theirs would not
		// come back; another link to it would keep the lowered bits.
		{"a set-group-ID bit elsewhere", shared, 0777, 1, cannot_lower, kAsRoot, 65534, 02664, 0},
		{"a hard link elsewhere", shared, 0777, 1, cannot_lower, kAsRoot, 65534, 0666, 65534, true},
		// Without that bit, a group not theirs does not stop it; the group
		// becomes nobody's, without the bits it had.
		{"a group not theirs elsewhere", shared, 0777, 0, "", kAsRoot, 65534, 0664, 0, false, 0, 0604},
	};
	fs::create_directory(shared);
	chmod(shared.c_str(), 0777);
	fs::create_directories(behind);
	chmod(behind.c_str(), 0777);
	chmod(club.c_str(), 0770);
	EXPECT_EQ(chown(club.c_str(), 0, 100) == 0, getuid() == 0);
	chmod(scratch_.c_str(), 0755);

	for (const Move &move : moves) {
		if (move.folder == other && !elsewhere)
			continue;
		const fs::path playlist = (move.folder.empty() ? work_ : fs::path(move.folder)) / "list.m3u";
		const string name = move.folder.empty() ? "list.m3u" : playlist.string();
		Row row{move.why, {name}, move.status, move.said};
		row.where = move.where;
		row.options.as_nobody = move.where != kEverywhere;
		row.options.also_in = move.also_in;
		row.setup = [=] {
			chmod(work_.c_str(), 0777);
			std::ofstream(playlist, std::ios::binary) << kWindowsList;
			if (getuid() == 0) {
				EXPECT_EQ(chown(playlist.c_str(), move.owner, move.group), 0);
			}
			chmod(playlist.c_str(), move.mode);
			if (move.hard_link)
				fs::create_hard_link(playlist, At("hard.m3u"));
			chmod(work_.c_str(), move.here);
		};
		row.after = kNotLooked;
		row.check = [=] {
			chmod(work_.c_str(), 0755);
			EXPECT_EQ(Slurp(playlist), move.status == 0 ? kUnixList : kWindowsList);
			struct stat status;
			EXPECT_TRUE(stat(playlist.c_str(), &status) == 0 && (status.st_mode & 07777) == (move.after != 0 ? move.after : move.mode));
			EXPECT_EQ(Files(), move.folder.empty() ? Names{"list.m3u"}
			                   : move.hard_link ? Names{"hard.m3u"} : Names{});
			fs::remove(playlist);
			EXPECT_TRUE(fs::is_empty(move.folder.empty() ? work_ : fs::path(move.folder)));
		};
		Check(row);
	}
	fs::remove_all(other);
}

// An access list as the system keeps it: a header, then the owner's
// entry, one for each user given (id, permissions), the group's, the mask
// and the others'.
string AccessList(const std::vector<std::pair<unsigned, int>> &users, int group, int mask)
{
	const auto entry = [](int tag, int permissions, unsigned id) {
		string bytes(8, '\0');
		bytes[0] = static_cast<char>(tag);
		bytes[2] = static_cast<char>(permissions);
		for (int i = 0; i < 4; i++)
			bytes[4 + i] = static_cast<char>(id >> (8 * i));
		return bytes;
	};
	string acl = string("\x02\0\0\0", 4) + entry(1, 6, 0xFFFFFFFF);
	for (const auto &user : users)
		acl += entry(2, user.second, user.first);
	return acl + entry(4, group, 0xFFFFFFFF) + entry(0x10, mask, 0xFFFFFFFF) + entry(0x20, 0, 0xFFFFFFFF);
}

// Run by root on somebody else's playlist, an in-place run keeps owner,
// group, permission, set-id and sticky bits; anyone keeps their own, and
// the playlist's group where it is one of theirs. The access list goes
// with it whole, and none the folder gives new files is added.
TEST_F(EndToEnd, InPlaceKeepsOwnerAndPermissionBits)
{
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
		                           // Writing as a user clears set-id bits: given after.
		                           {02750, 65534, 65534, 65534, 65534},
		                           // A group nobody is not in: its bits go with it.
		                           {02750, 65534, 0, 65534, 65534, 65534, 0700}});
	}
	std::vector<Row> rows;
	for (const Keep &keep : keeps) {
		const bool dropped = keep.new_mode != 0 && (keep.new_mode & 06000) != (keep.mode & 06000);
		Row row{"mode " + std::to_string(keep.mode) + " of " + std::to_string(keep.owner), {"list.m3u"},
		        0, dropped ? kSetIdDropped : ""};
		row.where = kNative;
		row.options.as_nobody = keep.runner_also_in != 0;
		row.options.also_in = keep.runner_also_in;
		row.setup = [=] {
			chmod(scratch_.c_str(), 0755);
			chmod(work_.c_str(), 0777);
			Write("list.m3u", kWindowsList);
			ASSERT_EQ(chown(At("list.m3u").c_str(), keep.owner, keep.group), 0);
			ASSERT_EQ(chmod(At("list.m3u").c_str(), keep.mode), 0);
		};
		row.after = {File("list.m3u", kUnixList, keep.new_mode != 0 ? keep.new_mode : keep.mode)};
		row.check = [=] {
			struct stat status;
			ASSERT_EQ(stat(At("list.m3u").c_str(), &status), 0);
			EXPECT_EQ(status.st_uid, keep.new_owner);
			EXPECT_EQ(status.st_gid, keep.new_group != static_cast<gid_t>(-1) ? keep.new_group
			                                                                  : keep.group);
		};
		rows.push_back(row);
	}
	// The folder gives new files an ACL that lets nobody read: the new
	// playlist takes none, as the original has none.
	const string name = "system.posix_acl_access";
	Row inherited{"an ACL the folder gives new files", {"d/list.m3u"}};
	inherited.where = kNative;
	inherited.setup = [&] {
		fs::create_directory(At("d"));
		Write("d/list.m3u", kWindowsList, 0640);
		const string inherit = AccessList({{65534, 7}}, 5, 7);
		ASSERT_EQ(setxattr(At("d").c_str(), "system.posix_acl_default", inherit.data(),
		                   inherit.size(), 0), 0);
	};
	inherited.after = {Folder("d"), File("d/list.m3u", kUnixList, 0640)};
	inherited.check = [&] {
		char acl[64];
		EXPECT_LT(getxattr(At("d/list.m3u").c_str(), name.c_str(), acl, sizeof acl), 0);
	};
	rows.push_back(inherited);
	// An access list goes with the new file whole, whatever its length:
	// past 4 KiB on tmpfs, which takes so long a list.
	char shm[] = "/dev/shm/tandrel-e2e-XXXXXX";
	ASSERT_NE(mkdtemp(shm), nullptr);
	std::vector<std::pair<unsigned, int>> many;
	for (unsigned user = 0; user < 508; user++)
		many.push_back({1000 + user, user % 2 == 0 ? 4 : 0});
	const std::pair<string, string> lists[] = {{work_.string(), AccessList({{65534, 0}}, 4, 4)},
	                                           {shm, AccessList(many, 4, 4)}};
	for (const auto &list : lists) {
		const fs::path file = fs::path(list.first) / "list.m3u";
		Row copied{"an access list of " + std::to_string(list.second.size()) + " bytes"};
		copied.where = kNative;
		copied.options.folder = list.first;
		copied.setup = [=] {
			std::ofstream(file, std::ios::binary) << kWindowsList;
			ASSERT_EQ(setxattr(file.c_str(), name.c_str(), list.second.data(), list.second.size(), 0), 0);
		};
		copied.after = kNotLooked;
		copied.check = [=] {
			string kept(list.second.size() + 8, '\0');
			ssize_t length = getxattr(file.c_str(), name.c_str(), &kept[0], kept.size());
			EXPECT_EQ(kept.substr(0, length > 0 ? static_cast<size_t>(length) : 0), list.second);
			EXPECT_EQ(Slurp(file), kUnixList);
			struct stat status;
			EXPECT_TRUE(stat(file.c_str(), &status) == 0 && (status.st_mode & 0777) == 0640);
			fs::remove(file);
			EXPECT_TRUE(fs::is_empty(file.parent_path()));
		};
		rows.push_back(copied);
	}
	CheckAll(rows);
	fs::remove_all(shm);
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
	// as the output ends up holding the playlist, not the banner. The name
	// is the test's own link, as /dev/stdout is: a faulty build run by root
	// must not replace the machine's.
	Write("in.m3u", kWindowsList);
	fs::create_symlink("/proc/self/fd/1", At("stdout"));
	Expect({"in.m3u", "stdout"}, 0, kUnixList);
}

// A link stays a link, and what it leads to is converted, wherever the
// run starts; a link to nothing is no playlist, and more than forty links
// in a row are a loop. A link is followed, and a link to a folder in its
// target, only where its owner runs tandrel, is root, or owns what it leads
// to.
TEST_F(EndToEnd, InPlaceThroughALinkConvertsWhatItLeadsTo)
{
	struct Linked {
		const char *why;
		string name;
		uid_t link_owner;	// of d/link.m3u and of the link sub
		uid_t file_owner;	// of d/real.m3u, which it leads to
		bool by_nobody;	// run by nobody, else by the test's user
		int status;
		string said;
		Where where = kNative;
	};
	const uid_t me = getuid();
	std::vector<Linked> cases = {
		{"relative link elsewhere", "d/link.m3u", me, me, false, 0, "", kEverywhere},
		{"chain of links", "chain.m3u", me, me, false, 0, "", kEverywhere},
		{"through a link to a folder", "via.m3u", me, me, false, 0, ""},
		{"link to nothing", "dangling.m3u", me, me, false, 1,
		 kUnableInput + ("\n" + Reason("dangling.m3u", kNoSuchFile))},
		{"forty links in a row", "links/38", me, me, false, 0, ""},
		{"forty-one links in a row", "links/39", me, me, false, 1,
		 kUnableInput + ("\n" + Reason("links/39", kTooManyLinks))},
		{"absolute link in a folder", "d/absolute.m3u", me, me, false, 0, ""},
		{"link to the longest path", "longest.m3u", me, me, false, 0, ""},
		// Cut to fit, the path would lead to the playlist.
		{"link to a path one byte too long", "d/too-long.m3u", me, me, false, 1,
		 kUnableInput + ("\n" + Reason("d/too-long.m3u", kNoSuchFile))},
	};
	if (me == 0) {
		cases.insert(cases.end(), {
			{"another's link to root's file", "d/link.m3u", 65534, 0, false, 1, Untrusted("d/link.m3u")},
			{"another's link to their file", "d/link.m3u", 65534, 65534, false, 0, ""},
			{"own link to root's file", "d/link.m3u", 65534, 0, true, 0, ""},
			{"root's link to a third's file", "d/link.m3u", 0, 1234, true, 0, ""},
			{"another's link to root's folder", "via.m3u", 65534, 0, false, 1, Untrusted("via.m3u")}});
	}
	const string longest = Repeat("./", 2042), too_long = "../" + Repeat("./", 2040);
	std::vector<Row> rows;
	for (const Linked &linked : cases) {
		// Run by nobody from the playlist's folder: elsewhere the original
		// would be aside where its bits cannot be lowered.
		const string name = linked.by_nobody ? linked.name.substr(2) : linked.name;
		Row row{linked.why, {name}, linked.status, linked.said};
		row.where = linked.where;
		row.options.as_nobody = linked.by_nobody;
		row.options.folder = linked.by_nobody ? "d" : "";
		row.setup = [=] {
			chmod(scratch_.c_str(), 0755);
			chmod(work_.c_str(), 0777);
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
			fs::create_symlink("d", At("sub"));
			fs::create_symlink("sub/real.m3u", At("via.m3u"));
			fs::create_directory(At("links"));
			for (int link = 1; link <= 39; link++)	// links/N goes through N + 2 links
				fs::create_symlink(link == 1 ? "../chain.m3u" : std::to_string(link - 1),
				                   At("links/" + std::to_string(link)));
			if (me == 0) {
				ASSERT_EQ(lchown(At("d/link.m3u").c_str(), linked.link_owner, -1), 0);
				ASSERT_EQ(lchown(At("sub").c_str(), linked.link_owner, -1), 0);
				ASSERT_EQ(chown(At("d/real.m3u").c_str(), linked.file_owner, -1), 0);
				ASSERT_EQ(chown(At("d").c_str(), linked.file_owner, -1), 0);
			}
		};
		row.after = kNotLooked;
		row.check = [=] {
			EXPECT_EQ(fs::read_symlink(At("d/link.m3u")), "real.m3u");
			EXPECT_EQ(Read("d/real.m3u"), linked.status == 0 ? Nl("./REAL/x\n\n") : "REAL\\x\r\n");
			EXPECT_EQ(Read("real.m3u"), "WRONG\\y\r\n");
			EXPECT_EQ(Files(), (Names{"chain.m3u", "d", "dangling.m3u", "links", "longest.m3u",
			                          "real.m3u", "sub", "via.m3u"}));
		};
		rows.push_back(row);
	}
	CheckAll(rows);
}

// Faults forced on the system calls of a run, as a full disk, a file
// system without permission bits, hard links or anonymous files, a second
// run or a signal would cause them.
TEST_F(EndToEnd, InjectedFaultsLoseNothing)
{
	const size_t copies = 10000;	// past the first read
	const string playlist = Repeat(kWindowsList, copies), converted = ConvertedCopies(copies);
	// What the folder holds after: the playlist as it was or converted;
	// the original under the temporary name alone; both; or the playlist
	// as it was and the new file under its hidden name; for two names,
	// the output too where it was made.
	enum After { kOriginal, kConverted, kOnlyAsTemp, kConvertedTempLeft, kNewFileLeft, kMade };
	struct Fault {
		string why;
		Names faults;
		int status;
		string said;
		After after;
		Names args = {"list.m3u"};
		mode_t mode = 0644;
		string folder = "";	// where it runs, below the work folder
	};
	const Names hidden = {"-e", "inject=openat:error=EOPNOTSUPP:when=@O_TMPFILE"};
	const auto with_hidden = [&](Names faults) {
		faults.insert(faults.begin(), hidden.begin(), hidden.end());
		return faults;
	};
	// Where the system keeps neither permission bits nor access lists (FAT).
	const Names no_bits = {"-e", "inject=fgetxattr:error=EOPNOTSUPP", "-e", "inject=fchmod:error=EPERM"};
	const string publish_fails = "inject=linkat:error=EEXIST";
	const string second_rename_fails = "inject=renameat2:error=EINVAL:when=2";
	const string at_hidden = "@.~tandrel-new-";
	const Names two = {"list.m3u", "out.m3u"};
	std::vector<Fault> faults = {
		{"sync fails", {"-e", "inject=fsync:error=EIO"}, 2, kUnableWrite, kOriginal},
		// From another folder, where its bits cannot be lowered for the move.
		{"bits not lowered", {"-e", "inject=fchmod:error=EIO"}, 1,
		 kUnableMove + string(kCannotLower), kOriginal, {"../list.m3u"}, 0644, "sub"},
		{"close fails", with_hidden({"-e", "inject=close:error=EIO:when=@list.m3u>#2"}), 2,
		 kUnableWrite, kOriginal},
		{"read fails midway", {"-P", "list.m3u", "-e", "inject=read:error=EIO:when=2"}, 1,
		 kUnableRead, kOriginal},
		{"no anonymous files", hidden, 0, "", kConverted},
		{"no anonymous files, new file unknown", with_hidden({"-e",
		 "inject=newfstatat:error=EIO:when=" + at_hidden}), 2, kUnableOutput, kOriginal},
		{"no anonymous files, sync fails", with_hidden({"-e", "inject=fsync:error=EIO"}), 2,
		 kUnableWrite, kOriginal},
		{"no anonymous files, killed while writing", with_hidden({"-e",
		 "inject=fsync:signal=SIGKILL"}), 137, "", kNewFileLeft},
		{"no anonymous files, interrupted making the new file", with_hidden({"-e",
		 "inject=flock:signal=SIGINT:when=" + at_hidden}), 130, "", kOriginal},
		// Naming the hidden file with link and unlink, which fail.
		{"no anonymous files, no renameat2, naming fails", with_hidden({"-e",
		 "inject=renameat2:error=EINVAL", "-e", "inject=linkat:error=EEXIST:when=2"}), 2,
		 kUnableOutput, kOriginal},
		{"no anonymous files, no renameat2, hidden name stays", with_hidden({"-e",
		 "inject=renameat2:error=EINVAL", "-e", "inject=unlinkat:error=EPERM:when=" + at_hidden}),
		 2, kUnableOutput, kOriginal},
		// Neither a rename that never replaces nor hard links, as on FAT.
		{"no anonymous files, no renameat2, no links", with_hidden({"-e",
		 "inject=renameat2:error=EINVAL", "-e", "inject=linkat:error=EPERM"}), 0, "", kConverted},
		// ... and no lock to take for the check and the rename: the third of
		// the folder's locks, after the look at the temporary name and the
		// new file's.
		{"no renameat2, no links, no lock", with_hidden({"-e", "inject=renameat2:error=EINVAL",
		 "-e", "inject=linkat:error=EPERM", "-e", "inject=flock:error=EBADF:when=@work>, LOCK_EX#3"}),
		 1, kUnableMove + string(kCannotRename), kOriginal},
		{"/proc cannot name the new file", {"-e", "inject=newfstatat:error=ENOENT:when=@/proc/self/fd"},
		 0, "", kConverted},
		{"no anonymous files, naming fails",
		 with_hidden({"-e", "inject=renameat2:error=EEXIST:when=2"}), 2, kUnableOutput, kOriginal},
		// Another run took the new file for a leftover: another name.
		{"new file locked", with_hidden({"-e", "inject=flock:error=EAGAIN:when=" + at_hidden}), 0,
		 "", kConverted},
		{"playlist locked", {"-P", "list.m3u", "-e", "inject=flock:error=EAGAIN"}, 1, kBusy,
		 kOriginal},
		{"naming fails", {"-e", publish_fails}, 2, kUnableOutput, kOriginal},
		{"move fails", {"-e", "inject=renameat2:error=EIO:when=1"}, 1, kUnableMove + string(kNoReason),
		 kOriginal},
		{"temporary name taken at the move", {"-P", "list.m3u", "-e",
		 "inject=renameat2:error=EEXIST:when=1"}, 1, kBusyHere, kOriginal},
		{"no renameat2", {"-e", "inject=renameat2:error=EINVAL"}, 0, "", kConverted},
		{"no renameat2, link stays", {"-e", "inject=renameat2:error=EINVAL", "-e",
		 "inject=unlinkat:error=EPERM:when=1"}, 1, kUnableMove + string(kNoPermission), kOriginal},
		{"no rename at all", {"-e", "inject=renameat2:error=EINVAL", "-e",
		 "inject=linkat:error=EPERM", "-e", "inject=renameat:error=EINVAL"}, 1,
		 kUnableMove + string(kCannotRename), kOriginal},
		{"naming fails, nothing to put back with", {"-e", publish_fails, "-e", second_rename_fails},
		 2, kUnableOutput + string(kKeptAsTemp), kOnlyAsTemp},
		{"naming fails, link to put back stays", {"-e", "inject=linkat:error=EEXIST:when=1", "-e",
		 second_rename_fails, "-e", "inject=unlinkat:error=EPERM:when=1"}, 2,
		 kUnableOutput + string(kKeptAsTemp), kOnlyAsTemp},
		{"no bits, the same anyway", no_bits, 0, "", kConverted, {"list.m3u"}, 0600},
		{"no bits, different ones", no_bits, 2, kUnableWrite, kOriginal, {"list.m3u"}, 0664},
		{"owner not kept", {"-e", "inject=fchown:error=EPERM"}, 0, "", kConverted, {"list.m3u"}, 0640},
		{"access list unknown", {"-e", "inject=fgetxattr:error=EIO"}, 2, kUnableWrite, kOriginal},
		{"temporary file stays", {"-e", "inject=unlinkat:error=EACCES"}, 0, kTempLeft,
		 kConvertedTempLeft},
		{"temporary file unchecked", {"-e", "inject=newfstatat:error=EIO:when=@temp.m3u\", {#2"}, 0,
		 kTempUnchecked, kConvertedTempLeft},
		// White space that needs scratch space, where the first place is
		// full: the next one takes it.
		{"scratch space full", {"-e", "inject=write:error=ENOSPC:when=@work/tandrel-"}, 0, "", kConverted},
		// Signals during the commit wait for it and its messages; the run
		// ends with the status they call for.
		{"interrupted at the move", {"-e", "inject=renameat2:signal=SIGINT"}, 0, "", kConverted},
		{"interrupted putting back", {"-e", publish_fails, "-e", "inject=renameat2:signal=SIGINT:when=2"},
		 2, kUnableOutput, kOriginal},
		{"interrupted putting back midway", with_hidden({"-e", "inject=renameat2:error=EINVAL:when=2+",
		 "-e", "inject=linkat:error=EEXIST:when=1", "-e",
		 "inject=unlinkat:signal=SIGINT:when=@~tandrel-temp.m3u"}), 2, kUnableOutput, kOriginal},
		{"interrupted while syncing", {"-e", "inject=fsync:signal=SIGINT"}, 130, "", kOriginal},
		{"interrupted removing the original", {"-e", "inject=unlinkat:error=EACCES:signal=SIGTERM"}, 0,
		 kTempLeft, kConvertedTempLeft},
		{"interrupted once it said the original stays", {"-e", "inject=unlinkat:error=EACCES", "-e",
		 "inject=close:signal=SIGINT:when=@~tandrel-temp.m3u>"}, 0, kTempLeft, kConvertedTempLeft},
		{"killed between the moves", {"-e", "inject=linkat:signal=SIGKILL"}, 137, "", kOnlyAsTemp},
		// A two-file run's output takes its name only once whole.
		{"two files, close fails", with_hidden({"-e", "inject=close:error=EIO:when=@out.m3u>"}), 2,
		 kUnableWrite, kMade, two},
		{"two files, read fails midway", {"-P", "list.m3u", "-e", "inject=read:error=EIO:when=2"}, 1,
		 kUnableRead, kOriginal, two},
		{"two files, read fails, then killed", {"-e", "inject=read:error=EIO:when=@list.m3u>#2",
		 "-e", "inject=close:signal=SIGKILL:when=@deleted"}, 137, "", kOriginal, two},
		{"two files, no anonymous files", with_hidden({}), 0, "", kMade, two},
		{"two files, killed while writing", with_hidden({"-e", "inject=fsync:signal=SIGKILL"}), 137, "",
		 kNewFileLeft, two},
	};
	// Every signal that would end the run, sent as the new playlist takes
	// the name: it waits for the commit, and the run ends with status 0.
	// The program's own faults are not caught: they end the run there, as
	// a kill would.
	for (int signal_number : {SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM,
	                          SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT, SIGRTMIN,
	                          SIGRTMAX})
		faults.push_back({strsignal(signal_number), {"-e", "inject=linkat:signal=" +
		                 std::to_string(signal_number)}, 0, "", kConverted});
	for (int signal_number : {SIGILL, SIGTRAP, SIGBUS, SIGFPE, SIGSEGV, SIGSYS})
		faults.push_back({strsignal(signal_number), {"-e", "inject=linkat:signal=" +
		                 std::to_string(signal_number)}, 128 + signal_number, "", kConvertedTempLeft});

	std::vector<Row> rows;
	for (const Fault &fault : faults) {
		const bool in_place = fault.args.size() == 1;
		Row row{fault.why, fault.args, fault.status, fault.said};
		row.options.faults = fault.faults;
		row.options.folder = fault.folder;
		// White space held past what memory takes, for the scratch file.
		const string input = fault.why.rfind("scratch", 0) == 0
		                         ? "x" + Repeat(" ", 70000) + "y\r\n"
		                         : playlist;
		const string output = fault.why.rfind("scratch", 0) == 0
		                          ? "./x" + Repeat(" ", 70000) + "y\n\n"
		                          : converted;
		row.setup = [=] {
			Write("list.m3u", input, fault.mode);
			if (!fault.folder.empty())
				fs::create_directory(At(fault.folder));
		};
		const string left = in_place ? "list.m3u" : "out.m3u";
		switch (fault.after) {
		case kOriginal:
			row.after = {File("list.m3u", input, fault.mode)};
			break;
		case kConverted:
			row.after = {File("list.m3u", output, fault.mode)};
			break;
		case kOnlyAsTemp:
			row.after = {File(kTemp, input, fault.mode)};
			break;
		case kConvertedTempLeft:
			row.after = {File("list.m3u", output, fault.mode), File(kTemp, input, fault.mode)};
			break;
		case kNewFileLeft:
			row.after = {File(".~tandrel-new-N.m3u", output, in_place ? fault.mode : 0644),
			             File("list.m3u", input, fault.mode)};
			break;
		case kMade:
			row.after = {File("list.m3u", input, fault.mode), File("out.m3u", output)};
			break;
		}
		if (!fault.folder.empty())
			row.after.push_back(fault.folder + ": folder");
		std::sort(row.after.begin(), row.after.end());
		rows.push_back(row);
	}
	// Hidden files of other runs: those held, as live runs hold theirs, stay,
	// and so does one named by a live process, whose lock another view of
	// the folder would hide; those no run holds, whatever their names, were
	// left by killed runs and go.
	const string names[] = {".~tandrel-new-1.m3u", ".~tandrel-new-3.m3u",
	                        ".~tandrel-new-4999999-5.m3u"};
	const string of_live_process = ".~tandrel-new-" + std::to_string(getpid()) + "-1.m3u";
	for (bool live : {true, false}) {
		Row row{live ? "no anonymous files, other runs' files stay"
		             : "no anonymous files, leftovers go, whatever their names"};
		row.options.faults = hidden;
		row.setup = [=] {
			Write("list.m3u", playlist);
			for (const string &name : names) {
				Write(name, "somebody's");
				if (live)
					Hold(name);
			}
			Write(of_live_process, "a live run's");
		};
		row.after = {File("list.m3u", converted), File(of_live_process, "a live run's")};
		for (const string &name : names) {
			if (live)
				row.after.push_back(File(name, "somebody's"));
		}
		std::sort(row.after.begin(), row.after.end());
		rows.push_back(row);
	}
	CheckAll(rows);
}

// A signal in the middle of a run: while the new playlist is written the
// name leads to the whole original, and after the signal the playlist is
// whole under its name and nothing else is left (under Wine, the new file
// has a hidden name that the interrupt removes). A signal ignored from the
// start stays ignored; one sent while a failure waits to be said ends the
// run. A two-file run leaves its input and the old output alone.
TEST_F(EndToEnd, InterruptedRunsLeaveThePlaylistWhole)
{
	struct Interrupt {
		int signal_number;
		Names args;
		Options options;
		Where where;
		bool ignored = false;	// the run goes through
	};
	Options nohup;
	nohup.ignore_hangup = true;
	// A run that fails and waits to say so: standard output a full pipe.
	Options saying;
	saying.file_size = 1024;
	saying.stdout_room = Said(kTemp, "list.m3u").size();
	const Names in_place = {"list.m3u"};
	const Interrupt interrupts[] = {
		{SIGINT, in_place, {}, kEverywhere},
		{SIGINT, {"list.m3u", "out.m3u"}, {}, kEverywhere},
		{SIGHUP, in_place, nohup, kNative, true},
		{SIGINT, in_place, saying, kNative},
		// Not caught: the playlist was never touched.
		{SIGKILL, in_place, {}, kNative},
	};
	const string &big = BigList();
	std::vector<Row> rows;
	for (const Interrupt &interrupt : interrupts) {
		const bool two = interrupt.args.size() == 2;
		Row row{strsignal(interrupt.signal_number) + string(" ") + interrupt.args.back(),
		        interrupt.args, interrupt.ignored ? 0 : InterruptedStatus(interrupt.signal_number)};
		row.where = interrupt.where;
		row.options = interrupt.options;
		row.setup = [=] {
			Write("list.m3u", big);
			if (two)
				Write("out.m3u", "old");
		};
		row.stop = true;
		row.held = [=](pid_t run) {
			return interrupt.options.stdout_room > 0 ? WaitsIn(run, SYS_write, "0x1") : WroteAQuarter(run);
		};
		row.meanwhile = [=](pid_t child) {
			EXPECT_TRUE(Read("list.m3u") == big) << "a reader met part of a playlist";
			EXPECT_TRUE(!two || Read("out.m3u") == "old") << "a reader met part of a playlist";
			kill(child, interrupt.signal_number);
			kill(child, SIGCONT);
			// Ended by the signal, the run wrote no more than it had.
			siginfo_t ended = {};
			waitid(P_PID, child, &ended, WEXITED | WNOWAIT);
			EXPECT_TRUE(interrupt.ignored || interrupt.options.stdout_room > 0 ||
			            Written(child) < big.size() / 2);
		};
		row.after = {File("list.m3u", interrupt.ignored ? ConvertedCopies(kBigCopies) : big)};
		if (two)
			row.after.push_back(File("out.m3u", "old"));
		rows.push_back(row);
	}
	CheckAll(rows);
}

// A second run or a reader, while a run writes the new playlist or gives
// it the playlist's name (strace holds that call back a second), from
// this folder or another: it meets the whole original, is refused, or
// meets the whole new playlist. None ends with status 0 on part of one.
TEST_F(EndToEnd, RunsAtOnceNeverMeetHalfAPlaylist)
{
	struct Second {
		const char *why;
		Names pause;	// strace arguments holding the first run, or none
		string folder;	// where the second runs
		Names args;
		int status;
		string said;
		bool stopped = false;	// the held run is stopped too, past the wait
		Names first = {"list.m3u"};
	};
	const Names before_naming = {"-P", "list.m3u", "-e", "inject=linkat:delay_enter=1000000"};
	const Names after_naming = {"-P", "list.m3u", "-e", "inject=linkat:delay_exit=1000000"};
	const Second seconds[] = {
		{"writing", {}, "other", {"../list.m3u"}, 1, kBusy},
		{"writing", {}, "", {"list.m3u"}, 1, kBusy},
		{"writing, a reader", {}, "", {"list.m3u", "copy.m3u"}, 0, ""},
		{"writing, a two-file run onto it", {}, "", {"b.m3u", "list.m3u"}, 2, kBusy},
		{"writing, another playlist here", {}, "", {"b.m3u"}, 0, ""},
		{"before the naming", before_naming, "other", {"../list.m3u"}, 1,
		 kUnableInput + ("\n" + Reason("../list.m3u", kNoSuchFile))},
		{"after the naming", after_naming, "other", {"../list.m3u"}, 1, kBusy},
		// Runs in one folder take turns with their moves.
		{"before the naming, another playlist here", before_naming, "", {"b.m3u"}, 0, ""},
		{"before the naming, stopped", before_naming, "", {"b.m3u"}, 1, kBusyHere, true},
		// A two-file run writing its output: the output is the old one to
		// a reader, and an in-place run on it is refused.
		{"writing an output, a reader", {}, "", {"copy.m3u", "c.m3u"}, 0, "", false,
		 {"list.m3u", "copy.m3u"}},
		{"writing an output, in place on it", {}, "", {"copy.m3u"}, 1, kBusy, false,
		 {"list.m3u", "copy.m3u"}},
	};
	const string &big = BigList();
	std::vector<Row> rows;
	for (const Second &second : seconds) {
		const bool held = !second.pause.empty(), output = second.first.size() == 2;
		Row row{second.why, second.first};
		row.options.faults = second.pause;
		row.setup = [=] {
			Write("list.m3u", held ? kWindowsList : big);
			Write("b.m3u", kWindowsList);
			if (output)
				Write("copy.m3u", "old");
			fs::create_directory(At("other"));
		};
		row.stop = !held;
		row.held = held ? [this](pid_t) { return fs::exists(At(kTemp)); }
		                : std::function<bool(pid_t)>(WroteAQuarter);
		row.meanwhile = [=](pid_t child) {
			if (second.stopped)
				kill(Traced(child), SIGSTOP);
			Options options;
			options.folder = second.folder;
			const string &from = second.args.size() == 1 ? kTemp : second.args[0];
			Expect(second.args, second.status, Said(from, second.args.back(), second.said), options);
			if (second.stopped)
				kill(Traced(child), SIGCONT);
		};
		const string converted = held ? Nl(kUnixList) : ConvertedCopies(kBigCopies);
		const bool reader = second.args.size() == 2 && second.args[0] != "b.m3u";
		const bool b_converted = second.args == Names{"b.m3u"} && second.status == 0;
		row.after = {Folder("other"), File("b.m3u", b_converted ? Nl(kUnixList) : kWindowsList)};
		if (output) {
			row.after.push_back(File("list.m3u", big));
			row.after.push_back(File("copy.m3u", converted));
			if (reader)
				row.after.push_back(File("c.m3u", Nl("./old\n")));
		} else {
			row.after.push_back(File("list.m3u", converted));
			if (reader)
				row.after.push_back(File("copy.m3u", converted));
		}
		std::sort(row.after.begin(), row.after.end());
		rows.push_back(row);
	}
	// Another program holds the playlist, and lets others move and remove
	// it: the original goes once that program lets it go, and meanwhile
	// keeps no name a run in the folder needs.
	Row shared{"another program holds the playlist, sharing deleting"};
	shared.where = kEmulated;
	shared.setup = [this] {
		Write("list.m3u", kWindowsList);
		Write("b.m3u", kWindowsList);
		StartHolder("list.m3u", "rwd");
	};
	shared.after = {File("b.m3u", kWindowsList), File("list.m3u", Nl(kUnixList)),
	                File(".~tandrel-old-N.m3u", kWindowsList)};
	shared.check = [this] {
		Expect({"b.m3u"}, 0, Said(kTemp, "b.m3u"));
		EXPECT_EQ(Read("b.m3u"), Nl(kUnixList));
	};
	rows.push_back(shared);
	// Runs in one folder at once take turns with their moves: every one
	// goes through.
	Row ten{"ten runs in one folder at once"};
	ten.setup = [this] {
		for (int i = 0; i < 10; i++)
			Write(std::to_string(i) + ".m3u", kWindowsList);
	};
	ten.args = {"0.m3u"};
	ten.held = [](pid_t) { return true; };
	ten.meanwhile = [this](pid_t) {
		std::vector<pid_t> others;
		for (int i = 1; i < 10; i++)
			others.push_back(Start({std::to_string(i) + ".m3u"}));
		for (pid_t other : others)
			EXPECT_EQ(Finish(other, 120).status, 0);
	};
	ten.after = {};
	for (int i = 0; i < 10; i++)
		ten.after.push_back(File(std::to_string(i) + ".m3u", Nl(kUnixList)));
	rows.push_back(ten);
	// Two runs, each converting a playlist in the folder the other runs
	// from, both with their new files written when the first commits: the
	// first is held a second and a half once it has its first of their two
	// folders' locks, the second once its new file is written. Both take
	// the locks in one order, so the second waits, and both go through.
	Row cross{"two runs, each in the other's playlist folder", {"../ax/b.m3u"}};
	cross.options.folder = "bx";
	cross.options.faults = {"-e", "inject=fsync:delay_enter=1500000"};
	cross.setup = [this] {
		fs::create_directories(At("ax"));
		fs::create_directories(At("bx"));
		Write("bx/a.m3u", kWindowsList);
		Write("ax/b.m3u", kWindowsList);
	};
	cross.held = [](pid_t run) { return WaitsIn(Traced(run), SYS_fsync); };
	cross.meanwhile = [this](pid_t) {
		// Its flock calls: the playlist, the current folder's lock taken and
		// given up, the playlist folder's likewise around the new file, the
		// new file, then the commit's first.
		Options first;
		first.folder = "ax";
		first.faults = {"-e", "inject=flock:delay_exit=1500000:when=7"};
		const Outcome outcome = Run({"../bx/a.m3u"}, first);
		EXPECT_EQ(outcome.status, 0);
		EXPECT_EQ(outcome.out, Said(kTemp, "../bx/a.m3u"));
	};
	cross.after = {Folder("ax"), Folder("bx"), File("ax/b.m3u", kUnixList),
	               File("bx/a.m3u", kUnixList)};
	rows.push_back(cross);
	CheckAll(rows);
}

// Names changed while a run pauses (strace holds one call back a second):
// what the run did not make is neither followed, replaced nor converted. A
// link planted where the new playlist goes leaves the original under the
// temporary name, and the message says so while that is where it is; a
// playlist swapped for another file or removed is left as it is now. Every
// file keeps its bits.
TEST_F(EndToEnd, NamesChangedMidwayAreLeftAlone)
{
	const auto hold = [](const string &call) {
		return Names{"-P", "list.m3u", "-e", "inject=" + call + ":delay_enter=1000000"};
	};
	// A new file under a hidden name: its close, once named, is held back,
	// and may fail.
	const Names close_held = {"-e", "inject=openat:error=EOPNOTSUPP:when=@O_TMPFILE", "-e",
	                          "inject=close:delay_enter=1000000:when=@list.m3u>#2"};
	Names close_fails = close_held;
	close_fails.back() = "inject=close:error=EIO:delay_enter=1000000:when=@list.m3u>#2";
	const auto in = [](long call) { return [call](pid_t run) { return WaitsIn(Traced(run), call); }; };
	// A call strace fails shows as call -1 while it is held.
	const auto failing = in(-1);
	// The new playlist named, the run checks that name at once, then waits
	// in the close.
	const auto named = [&](pid_t run) {
		return fs::exists(At(kTemp)) && Read("list.m3u") == kUnixList &&
		       (in(SYS_close)(run) || failing(run));
	};
	const string other = File("other.m3u", "swapped in\r\n"), victim = File("victim", "not yours");
	const string swapped = File("list.m3u", "swapped in\r\n");
	const auto plant = [&](pid_t) { fs::create_symlink("victim", At("list.m3u")); };
	const auto swap = [&](pid_t) { fs::rename(At("other.m3u"), At("list.m3u")); };
	const auto Hidden = [&] {
		for (const auto &entry : fs::directory_iterator(work_)) {
			if (entry.path().filename().string().rfind(".~tandrel-new-", 0) == 0)
				return entry.path();
		}
		return fs::path();
	};
	const auto in_d = [&] {
		fs::create_directory(At("d"));
		fs::rename(At("list.m3u"), At("d/list.m3u"));
	};
	struct Change {
		const char *why;
		Names faults;
		std::function<bool(pid_t)> held;
		std::function<void(pid_t)> change;
		int status;
		string said;
		Names after;
		Names args = {"list.m3u"};
		std::function<void()> setup = [] {};
	};
	const Change changes[] = {
		{"link planted", hold("linkat"), in(SYS_linkat), plant, 2, kUnableOutput + string(kKeptAsTemp),
		 {Link("list.m3u", "victim"), other, victim, File(kTemp, kWindowsList)}},
		{"link planted, original moved on", hold("linkat"), in(SYS_linkat),
		 [&](pid_t run) { plant(run); fs::rename(At(kTemp), At("moved.m3u")); }, 2, kUnableOutput,
		 {Link("list.m3u", "victim"), File("moved.m3u", kWindowsList), other, victim}},
		{"playlist swapped", hold("renameat2"), in(SYS_renameat2), swap, 1, kPlaylistChanged,
		 {swapped, victim}},
		{"playlist removed", hold("renameat2"), in(SYS_renameat2), [&](pid_t) { fs::remove(At("list.m3u")); },
		 1, kPlaylistChanged, {other, victim}},
		{"original replaced", close_held, named,
		 [&](pid_t) { fs::rename(At(kTemp), At("moved.m3u")); fs::rename(At("other.m3u"), At(kTemp)); },
		 0, "", {File("list.m3u", kUnixList), File("moved.m3u", kWindowsList), victim,
		         File(kTemp, "swapped in\r\n")}},
		{"new playlist replaced", close_fails, named, swap, 2, kUnableWrite + string(kKeptAsTemp),
		 {swapped, victim, File(kTemp, kWindowsList)}},
		{"another's link swapped in while the link is read", {"-e",
		 "inject=readlinkat:delay_enter=1000000"}, in(SYS_readlinkat), [&](pid_t) {
			fs::create_symlink("victim", At("swap"));
			EXPECT_TRUE(lchown(At("swap").c_str(), 65534, 65534) == 0 || getuid() != 0);
			fs::rename(At("swap"), At("list.m3u"));
		 }, 0, "", {Link("list.m3u", "victim"), other, File("real.m3u", kUnixList), victim},
		 {"list.m3u"}, [&] {
			fs::rename(At("list.m3u"), At("real.m3u"));
			fs::create_symlink("real.m3u", At("list.m3u"));
		 }},
		{"a folder of the path swapped for a link", hold("linkat"), in(SYS_linkat), [&](pid_t) {
			fs::rename(At("music"), At("old"));
			fs::create_symlink("vault", At("music"));
		 }, 0, "", {Link("music", "vault"), File("old/list.m3u", kUnixList), Folder("old"),
		            other, Folder("vault"), victim}, {"music/list.m3u"}, [&] {
			fs::create_directory(At("music"));
			fs::create_directory(At("vault"));
			fs::rename(At("list.m3u"), At("music/list.m3u"));
		 }},
		// Its hidden new file replaced before the run gives it up: what is
		// there now is not the run's to remove.
		{"hidden new file replaced", {"-e", "inject=openat:error=EOPNOTSUPP:when=@O_TMPFILE", "-e",
		 "inject=fsync:error=EIO:delay_enter=1000000"},
		 [&](pid_t run) { return !Hidden().empty() && failing(run); },
		 [&](pid_t) { fs::rename(At("other.m3u"), Hidden()); }, 2, kUnableWrite, {File(".~tandrel-new-N.m3u", "swapped in\r\n"),
		                      File("list.m3u", kWindowsList), victim}},
		// Replaced before the run saw it was still its own: another name.
		{"hidden name taken as it is made", {"-e", "inject=openat:error=EOPNOTSUPP:when=@O_TMPFILE", "-e",
		 "inject=flock:delay_enter=1000000:when=@tandrel-new-"},
		 [&](pid_t run) { return !Hidden().empty() && in(SYS_flock)(run); },
		 [&](pid_t) { fs::rename(At("other.m3u"), Hidden()); }, 0, "", {File(".~tandrel-new-N.m3u", "swapped in\r\n"),
		                      File("list.m3u", kUnixList), victim}},
		{"written to while read", {"-e", "inject=fsync:delay_enter=1000000"}, in(SYS_fsync),
		 [&](pid_t) { std::ofstream(At("list.m3u"), std::ios::app) << "Music\\added.mp3\r\n"; }, 1,
		 kPlaylistWritten, {File("list.m3u", kWindowsList + "Music\\added.mp3\r\n"), other, victim}},
		{"written over while read, its size the same", {"-e", "inject=fsync:delay_enter=1000000"},
		 in(SYS_fsync), [&](pid_t) { std::fstream(At("list.m3u"), std::ios::in | std::ios::out) << "#X"; },
		 1, kPlaylistWritten, {File("list.m3u", "#X" + kWindowsList.substr(2)), other, victim}},
		// Its time set back after: the change time still shows the write.
		{"written over while read, its times set back", {"-e", "inject=fsync:delay_enter=1000000"},
		 in(SYS_fsync), [&](pid_t) {
			struct stat before;
			stat(At("list.m3u").c_str(), &before);
			std::fstream(At("list.m3u"), std::ios::in | std::ios::out) << "#X";
			const struct timespec times[2] = {before.st_atim, before.st_mtim};
			utimensat(AT_FDCWD, At("list.m3u").c_str(), times, 0);
		 }, 1, kPlaylistWritten, {File("list.m3u", "#X" + kWindowsList.substr(2)), other, victim}},
		{"playlist swapped, from the folder above", hold("renameat2"), in(SYS_renameat2), [&](pid_t) {
			fs::rename(At("d/list.m3u"), At("d/moved.m3u"));
			fs::rename(At("other.m3u"), At("d/list.m3u"));
		 }, 1, kPlaylistChanged, {File("d/list.m3u", "swapped in\r\n"), File("d/moved.m3u",
		                          kWindowsList), Folder("d"), victim}, {"d/list.m3u"}, in_d},
		{"naming fails, from the folder above", {"-e", "inject=linkat:error=EEXIST"},
		 nullptr, [](pid_t) {}, 2, kUnableOutput, {File("d/list.m3u", kWindowsList), Folder("d"), other,
		                                   victim}, {"d/list.m3u"}, in_d},
		// Another folder than the playlist's: nobody reads the original
		// there who could not before, and its bits come back.
		{"original aside, owner's bits alone", hold("linkat"), in(SYS_linkat), [&](pid_t) {
			struct stat aside;
			EXPECT_EQ(stat(At(kTemp).c_str(), &aside), 0);
			EXPECT_EQ(aside.st_mode & 0777, 0600u);
		 }, 0, "", {File("d/list.m3u", kUnixList), Folder("d"), other, victim}, {"d/list.m3u"}, in_d},
		// The signal waits for the messages that say where the original is,
		// with the bits it had.
		{"original aside, a file put at its name, then a signal", hold("linkat"), in(SYS_linkat),
		 [&](pid_t run) {
			Write("d/list.m3u", "somebody's");
			kill(Traced(run), SIGTERM);
		 }, 2, kUnableOutput + KeptLowered(0644), {File("d/list.m3u", "somebody's"), Folder("d"), other,
		                                            victim, File(kTemp, kWindowsList, 0600)},
		 {"d/list.m3u"}, in_d},
		// A two-file run's output swapped while the new one was written.
		{"output swapped", {"-e", "inject=fsync:delay_enter=1000000"}, in(SYS_fsync),
		 [&](pid_t) { fs::rename(At("other.m3u"), At("out.m3u")); }, 2, kOutputChanged,
		 {File("list.m3u", kWindowsList), File("out.m3u", "swapped in\r\n"), victim},
		 {"list.m3u", "out.m3u"}, [&] { Write("out.m3u", "old"); }},
	};
	std::vector<Row> rows;
	for (const Change &change : changes) {
		Row row{change.why, change.args, change.status, change.said};
		row.where = kNative;
		row.options.faults = change.faults;
		row.setup = [=] {
			Write("list.m3u", kWindowsList);
			Write("other.m3u", "swapped in\r\n");
			Write("victim", "not yours");
			change.setup();
		};
		row.held = change.held;
		row.meanwhile = change.change;
		row.after = change.after;
		std::sort(row.after.begin(), row.after.end());
		rows.push_back(row);
	}
	CheckAll(rows);
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
		else if (arg.rfind("--holder=", 0) == 0)
			holder = arg.substr(9);
	}
	return RUN_ALL_TESTS();
}
