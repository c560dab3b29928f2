#include "gui/dialogs/bulk_rules.h"

namespace sentrel {

std::string_view FaultKey(AddressFault fault) {
  switch (fault) {
    case AddressFault::None:
      return {};
    case AddressFault::Empty:
      return "FaultEmpty";
    case AddressFault::Blank:
      return "FaultBlank";
    case AddressFault::TooLong:
      return "FaultTooLong";
    case AddressFault::BadIpv4:
      return "FaultBadIpv4";
    case AddressFault::NoAddressMark:
      return "FaultNoAddressMark";
    case AddressFault::BadIpv6:
      return "FaultBadIpv6";
    case AddressFault::UnknownZone:
      return "FaultUnknownZone";
    case AddressFault::ZoneNeeded:
      return "FaultZoneNeeded";
    case AddressFault::BadCharacter:
      return "FaultBadCharacter";
    case AddressFault::EmptyLabel:
      return "FaultEmptyLabel";
    case AddressFault::LabelTooLong:
      return "FaultLabelTooLong";
    case AddressFault::HyphenAtEdge:
      return "FaultHyphenAtEdge";
    case AddressFault::NumericTopLabel:
      return "FaultNumericTopLabel";
  }
  return {};
}

OutcomeCaption OutcomeCaptionOf(const ImportRow& row) {
  switch (row.reason) {
    case ImportReason::None:
      return {"AddOutcome", {}, 0};
    case ImportReason::DoesNotResolve:
      return {"UnresolvedOutcome", {}, 0};
    case ImportReason::Listed:
      return {"ListedOutcome", {}, row.other};
    case ImportReason::Repeated:
      return {"RepeatedOutcome", {}, row.other};
    case ImportReason::BadAddress:
      return {"RejectOutcome", FaultKey(row.fault), 0};
    case ImportReason::NameForName:
      return {"RejectOutcome", "NameForName", 0};
    case ImportReason::BadInterval:
      return {"RejectOutcome", "BadInterval", 0};
    case ImportReason::BadEnabled:
      return {"RejectOutcome", "BadEnabled", 0};
    case ImportReason::UnsafeText:
      return {"RejectOutcome", "UnsafeText", 0};
    case ImportReason::UnclosedQuote:
      return {"RejectOutcome", "UnclosedQuote", 0};
    case ImportReason::UnknownParent:
      return {"RejectOutcome", "UnknownParent", 0};
    case ImportReason::ListFull:
      return {"RejectOutcome", "ListFull", 0};
  }
  return {};
}

std::string HostFileFilter(std::string_view hostLists, std::string_view allFiles) {
  return std::string(hostLists) + " (*.csv *.txt);;" + std::string(allFiles) + " (*)";
}

}  // namespace sentrel
