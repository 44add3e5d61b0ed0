// tandrel: rewrites a playlist written on Windows so that UNIX players can
// follow its entries. One name rewrites that playlist in place, by way of a
// temporary file; two names read the first and write the second.
#include "frontend/in_place.h"
#include "frontend/messages.h"
#include "frontend/new_file.h"
#include "frontend/platform.h"
#include "frontend/report.h"
#include "frontend/two_files.h"

// A signal ends a run that has said how it ended with that status, and
// otherwise gives up the new playlist being made, and ends as it would.
static int EndInterruptedRun()
{
	const int status = EndedStatus();

	if (status < 0)
		DiscardLiveNewFile();
	return status;
}

int main(int argc, char *argv[])
{
	TakeArguments(&argc, &argv);
	CatchSignals(EndInterruptedRun);
	Say(kBanner);
	if (argc < 2) {
		Say(kNotice);
		Say(kUsage);
		return kExitDone;
	}
	// A glob or a batch that gives several playlists would have the second
	// overwritten by the first: nothing is opened.
	if (argc > 3) {
		Say(kUsage);
		return Fail(kTooManyNames, kExitOutput);
	}
	if (argc == 2)
		return RunInPlace(argv[1]);
	return RunTwoFiles(argv[1], argv[2]);
}
