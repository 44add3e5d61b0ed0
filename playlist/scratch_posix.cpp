#include "playlist/scratch.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

FILE *OpenScratchFile()
{
	const char *folder = getenv("TMPDIR");
	char name[PATH_MAX];

	if (folder == nullptr || *folder == '\0')
		folder = "/tmp";
	// As in CopyName, a failure's -1 is no length that fits.
	if (static_cast<size_t>(snprintf(name, sizeof name, "%s/tandrel-XXXXXX", folder)) >=
	    sizeof name)
		return nullptr;
	int descriptor = mkstemp(name);
	if (descriptor < 0)
		return nullptr;
	// Unnamed at once, it is never left behind, whatever ends the run.
	FILE *stream = unlink(name) == 0 ? fdopen(descriptor, "w+") : nullptr;
	if (stream == nullptr)
		(void)close(descriptor);
	return stream;
}
