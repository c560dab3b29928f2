#pragma once

#include <string>
#include <string_view>

namespace sentrel {

// Replaces the file at `path` with `bytes` so that a crash, a full disk or a
// failed write never leaves a half-written file behind: the bytes go to a
// temporary file in the same folder, which is flushed to disk; then, when
// `backupPath` is not empty and `path` exists, the old file is copied to
// `backupPath` (replacing an older backup; the copy keeps the old file's
// access and modification times, so it never looks newer than the file);
// then the temporary file is renamed over `path` and the folder entry is
// flushed. Where the file system allows, a temporary file has no name until
// it is complete and renamed at once, so a writer killed at any moment
// leaves none behind but in that last instant; what a killed writer left
// (hidden ".NAME.XXXXXX" files) is removed by the next write of the file.
//
// A symbolic link at `path` is followed: its target is replaced, in the
// target's own folder, and the link stays; a target that cannot be written
// is an error that leaves link, target and backup as they were.
//
// `mode` is the permission of a newly created file (an existing file keeps
// its own). Returns true on success; on failure returns false and puts a
// readable reason in `error`. A failure leaves `path` as it was and removes
// the temporary file, except where the system lost or renamed the old file
// half-way through replacing it (possible on Windows): then the temporary
// file, which may be the only copy, stays and `error` names it.
bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                         const std::string& backupPath, std::string* error,
                         unsigned mode = 0644);

// The same for a file that holds secrets: it is written with mode 0600 also
// when it existed with a wider mode (and so is its backup).
bool WritePrivateFileAtomically(const std::string& path, std::string_view bytes,
                                const std::string& backupPath, std::string* error);

}  // namespace sentrel
