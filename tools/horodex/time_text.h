// How the tool writes a time: for people, aligned to the microsecond; for machines, RFC 3339 UTC.
#pragma once

#include <string>

#include "codec/corekit/datetime.h"

namespace Horodex {

// "2026-12-06 08:44:09.123456 UTC": always six fraction digits, so that stamps line up.
std::string TimeText(const Velmora::CDateTime& time);

// "2026-12-06T08:44:09.123Z": RFC 3339 in UTC, to the millisecond, or to the microsecond when the
// time has a finer part.
std::string JsonTime(const Velmora::CDateTime& time);

// "2026-12-06 08:44:09Z" (as the revocation lines print times) as RFC 3339: "2026-12-06T08:44:09Z".
std::string JsonTime(std::string text);

}  // namespace Horodex
