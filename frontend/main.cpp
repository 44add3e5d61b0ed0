// tandrel: rewrites a playlist written on Windows so that UNIX players can
// follow its entries. One name rewrites that playlist in place, by way of a
// temporary file; two names read the first and write the second.
#include "frontend/in_place.h"
#include "frontend/messages.h"
#include "frontend/platform.h"
#include "frontend/report.h"
#include "frontend/two_files.h"

int main(int argc, char *argv[])
{
	CatchSignals(UndoInPlace);
	Say(kBanner);
	if (argc < 2) {
		Say(kNotice);
		Say(kUsage);
		return kExitDone;
	}
	if (argc == 2)
		return RunInPlace(argv[1]);
	return RunTwoFiles(argv[1], argv[2]);
}
