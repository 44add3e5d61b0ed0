#include "playlist/scratch.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

static const char *near_folder;

void SetScratchFolder(const char *folder)
{
	near_folder = folder;
}

// A scratch file in folder, or nullptr.
static FILE *OpenScratchIn(const char *folder)
{
	char name[PATH_MAX];

	// A failure's -1 is no length that fits.
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

FILE *OpenScratchFile(int *place)
{
	while (*place < 3) {
		const int at = (*place)++;
		const char *folder = at == 0 ? getenv("TMPDIR") : at == 1 ? near_folder : "/tmp";
		FILE *stream = folder != nullptr && *folder != '\0' ? OpenScratchIn(folder) : nullptr;
		if (stream != nullptr)
			return stream;
	}
	return nullptr;
}
