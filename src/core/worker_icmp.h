#pragma once

#include <stop_token>

#include "core/ui_thread.h"
#include "probes/icmp_mode.h"

namespace sentrel {

// The echo context for the probes of the host workers: the program's own,
// with two changes so that ending a worker never waits long. Its library
// refuses new requests once the calling worker is being ended (a trace of
// 60 hops gives up after the request in flight, not after 60 time-outs), and
// the probes' message boxes reach the window thread through a hand-off that
// such a worker gives up.
IcmpContext WorkerIcmpContext(const IcmpContext& base, UiThread& ui);

// `base` (a worker context) for a manual trace that the operator can end:
// once `finish` is requested no new request goes out, while the one in
// flight still runs to its end and is recorded.
IcmpContext FinishableIcmpContext(const IcmpContext& base, std::stop_token finish);

// `base` for a trace that must end by a deadline: once `cut` is requested no
// new request goes out and the one in flight ends at once, unanswered.
IcmpContext CuttableIcmpContext(const IcmpContext& base, std::stop_token cut);

}  // namespace sentrel
