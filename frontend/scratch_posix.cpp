#include "frontend/scratch.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

// A scratch file in folder, or nullptr.
static FILE *OpenScratchIn(const char *folder)
{
	char name[PATH_MAX];

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

FILE *OpenScratchFile()
{
	const char *folder = getenv("TMPDIR");
	FILE *stream = folder != nullptr && *folder != '\0' ? OpenScratchIn(folder) : nullptr;

	// A TMPDIR that is missing or no folder is no reason to fail.
	return stream != nullptr ? stream : OpenScratchIn("/tmp");
}
