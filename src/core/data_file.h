#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/host_entry.h"
#include "core/host_list.h"
#include "platform/desktop.h"

namespace sentrel {

// The host list file: a flat run of <H> blocks, one tag per line, CR LF line
// ends, text written as held (no escaping), values only where they differ
// from their defaults. Files are exchanged with the Windows build, so a
// field's bytes stay exactly as they were read until the user edits it: a
// legacy 8-bit text is decoded for the program (DecodeOutsideText) and its
// bytes kept beside it (HostEntry::LegacyTexts); an edited text is UTF-8.

inline constexpr const char* kHostFileName = "sentrel.xml";
inline constexpr const char* kHostBackupName = "sentrel.BAK";

std::string HostFilePath(const std::string& folder);
std::string HostBackupPath(const std::string& folder);

// The one reader of the format: the text between the first "<NAME>" and the
// first "</NAME>", both searched from the start of `text`, byte-exact, and
// only up to the first zero byte. `defaultValue` when either tag is missing;
// empty when the closing tag stands before the end of the opening one.
std::string ReadTag(std::string_view text, std::string_view name, std::string_view defaultValue);

// One host's block, from "<H>" to "</H>" with its CR LF.
std::string FormatHostBlock(const HostEntry& host);
// Every host's block, in row order: the whole file.
std::string FormatHostFile(const HostList& list);
// Reads the settings of one host from the text between "<H>" and "</H>";
// missing or damaged values take their defaults; legacy texts are decoded in
// `codePage` (0: the one CommonCodePage chooses for this block's texts).
// Run-time fields and the renewal side's RunTraceRoute are not touched.
void ParseHostBlock(std::string_view text, HostEntry& host, int codePage = 0);

struct HostFileLoad {
  std::size_t loaded = 0;
  std::string error;  // empty unless the file exists but could not be read
};

// Fills `list` (empty at start-up) from the file in `folder`. A missing file
// gives no hosts; a damaged file gives the hosts before the damage; blocks
// after the kMaxHosts-th are skipped. Every legacy text of the file is read
// in one code page (CommonCodePage). A file that exists but cannot be read
// (a link loop, no permission, a read error) gives no hosts and an error,
// which the list keeps (HostList::LoadError) so that no save replaces the
// file. Loading is set while it runs; afterwards Modified is clear.
HostFileLoad LoadHosts(HostList& list, const std::string& folder);

enum class SaveResult {
  NotModified,  // nothing to do
  Saved,
  NoFolder,     // the folder is missing and was not created; Modified cleared
  Failed,       // the file could not be written (reported); Modified kept
};

// Writes the list to `folder` when Modified is set (and its file was read,
// see LoadHosts; else the error is shown and nothing written), crash-safe: the new file
// is complete on disk before it replaces the old one, whose copy becomes the
// single backup. A missing folder is created, with its parents, only after the
// user agreed. Errors go to the user through `desktop`. Window thread only.
SaveResult SaveHosts(HostList& list, const std::string& folder, Desktop& desktop);

}  // namespace sentrel
