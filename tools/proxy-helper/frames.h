// The helper's conversation with the library on its standard input and output: each message is
// its length in decimal, a line feed and that many bytes.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace Horodex::ProxyHelper {

// The next message, or nothing at the end of the input or when it is malformed or longer than
// `limit` bytes.
std::optional<std::string> ReadFrame(std::FILE* in, std::size_t limit);
// Writes one message and flushes it; false when the library has gone.
bool WriteFrame(std::FILE* out, std::string_view bytes);

}  // namespace Horodex::ProxyHelper
