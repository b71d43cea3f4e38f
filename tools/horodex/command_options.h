// Option values more than one command reads: time-outs and TSA addresses.
#pragma once

#include <optional>
#include <string>

namespace Horodex {

// The largest --timeout: an exchange with a TSA that needs more than an hour is not one.
inline constexpr unsigned long kMaxTimeoutSeconds = 3600;

// The milliseconds of a --timeout value in seconds ("30", "2.5"); nothing for a value that is not
// a positive decimal number of at most kMaxTimeoutSeconds.
std::optional<unsigned long> TimeoutMs(const std::string& seconds);

// Whether `url` can name a TSA: http:// or https:// (any case) followed by a host.
bool UsableTsaUrl(const std::string& url);

}  // namespace Horodex
