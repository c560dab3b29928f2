#pragma once

#include <string>
#include <string_view>

#include "core/host_import.h"

namespace sentrel {

// The import preview's "What will happen" text of a row, as language keys
// of the ImportForm section: the outcome's key, whose %1 stands for either
// `number` (a row or a line) or the text of `reasonKey`.
struct OutcomeCaption {
  std::string_view key;
  std::string_view reasonKey;  // empty: %1 is `number`
  int number = 0;
};
OutcomeCaption OutcomeCaptionOf(const ImportRow& row);

// The ImportForm key of an address fault's text ("FaultBadIpv4").
std::string_view FaultKey(AddressFault fault);

// The file chooser's filter of host lists, with the two captions given.
std::string HostFileFilter(std::string_view hostLists, std::string_view allFiles);

}  // namespace sentrel
