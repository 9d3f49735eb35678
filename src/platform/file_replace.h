// Replacing a file in one step: the new content is written to a temporary
// file beside it and then renamed over it, so that the old file stays whole
// until the new one is complete on disk. POSIX: mkstemp, fsync, rename;
// Windows: CREATE_NEW, FlushFileBuffers, MoveFileEx with
// MOVEFILE_REPLACE_EXISTING (rename fails over an existing file there).
#pragma once

#include <cstdio>
#include <string>

namespace kx {

// Creates a new temporary file beside `path`, open for writing text (each
// "\n" becomes the system's line end: CR LF on Windows); its name in
// *tmpPath. Null with the errno in *err on failure.
std::FILE* createFileBeside(const std::string& path, std::string* tmpPath, int* err);

// Flushes `file` to disk, closes it, gives it the permissions a plain create
// would have given it and puts it in the place of `path`. 0 or the errno; on
// failure the temporary file is removed and `path` is as it was.
int replaceWithFile(std::FILE* file, const std::string& tmpPath, const std::string& path);

}  // namespace kx
