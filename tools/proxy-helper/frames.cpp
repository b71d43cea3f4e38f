#include "tools/proxy-helper/frames.h"

namespace Horodex::ProxyHelper {

std::optional<std::string> ReadFrame(std::FILE* in, std::size_t limit) {
  std::size_t length = 0;
  int digits = 0;
  for (;;) {
    const int c = std::fgetc(in);
    if (c == '\n' && digits > 0) {
      break;
    }
    if (c < '0' || c > '9' || ++digits > 10) {
      return std::nullopt;
    }
    length = length * 10 + static_cast<std::size_t>(c - '0');
  }
  if (length > limit) {
    return std::nullopt;
  }
  std::string bytes(length, '\0');
  if (length > 0 && std::fread(bytes.data(), 1, length, in) != length) {
    return std::nullopt;
  }
  return bytes;
}

bool WriteFrame(std::FILE* out, std::string_view bytes) {
  return std::fprintf(out, "%zu\n", bytes.size()) > 0 &&
         std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() && std::fflush(out) == 0;
}

}  // namespace Horodex::ProxyHelper
