#pragma once
// The one way this program writes a whole file: a reader (another process, or this one
// after a crash or a power cut) sees either the previous file or the new one, complete,
// never a part. The steps: a temporary file "<name>.tmp-XXXXXX" in the file's own folder
// (so the rename stays on one file system), every byte written, fsync, rename over the
// name, fsync of the folder (so the rename itself survives a power cut). A failure removes
// the temporary file and leaves the previous file as it was; a crash in the middle leaves
// at most a stray temporary file beside it. Folders are not created here. Any thread.
#include <sys/types.h>

#include <filesystem>
#include <string_view>

#include "base/Result.h"

namespace voryx {

// Writes `data` as `file` with permission bits `mode` (e.g. 0600 for files that hold
// message texts or phone numbers, 0644 for others), replacing an existing file. Errors
// (Io): detail "cannot create a file in <folder>: <reason>" when no temporary file can be
// made there, else "cannot write <file>: <reason>", the reason from errno.
Status writeFileAtomically(const std::filesystem::path& file, std::string_view data, mode_t mode);

// The same, except that an existing `file` is never replaced, not even one that appears
// while this call runs: then nothing is written and the answer is false. True when the
// file was created by this call. Errors as writeFileAtomically.
Result<bool> createFileAtomically(const std::filesystem::path& file, std::string_view data,
                                  mode_t mode);

// Renames from to to unless to exists (then false with errno EEXIST). Atomic where the
// file system supports it; else through a hard link. errno is set on failure.
bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace voryx
