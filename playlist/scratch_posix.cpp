#include "playlist/scratch.h"

#include <cstdlib>
#include <unistd.h>

FILE *OpenScratchFile()
{
	const char *folder = getenv("TMPDIR");
	char name[4096];

	if (folder == nullptr || folder[0] == '\0')
		folder = "/tmp";
	int length = snprintf(name, sizeof name, "%s/tandrel-XXXXXX", folder);
	if (length < 0 || static_cast<size_t>(length) >= sizeof name)
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
