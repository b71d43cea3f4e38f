// Base64 text of the Authenticode exchange and of the BASE64 files.
#include "TSP/horodex/Base64.h"

#include <array>
#include <cstdint>
#include <new>

#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kGroupsPerLine = 19;  // 76 characters

// What a text byte is to the decoder: its 6 bits (0 to 63), or one of these.
constexpr std::int8_t kInvalid = -1;
constexpr std::int8_t kSpace = -2;
constexpr std::int8_t kPad = -3;

constexpr std::array<std::int8_t, 256> MakeDecodeTable() {
  std::array<std::int8_t, 256> table{};
  table.fill(kInvalid);
  for (std::int8_t i = 0; i < 64; ++i) {
    table[static_cast<unsigned char>(kAlphabet[i])] = i;
  }
  for (const char c : {' ', '\t', '\r', '\n', '\v', '\f'}) {
    table[static_cast<unsigned char>(c)] = kSpace;
  }
  table['='] = kPad;
  return table;
}
constexpr std::array<std::int8_t, 256> kDecode = MakeDecodeTable();

// Collects the decoded bytes: writes each group whole while it fits in the room, counts them all.
class Sink {
 public:
  Sink(unsigned char* out, std::size_t room) noexcept
      : m_out(out), m_room(out != nullptr ? room : 0) {}

  void group(std::uint32_t bits24, std::size_t bytes) noexcept {
    if (!m_overflow && m_count + bytes <= m_room) {
      for (std::size_t i = 0; i < bytes; ++i) {
        m_out[m_count + i] = static_cast<unsigned char>(bits24 >> (16 - 8 * i));
      }
    } else {
      m_overflow = true;
    }
    m_count += bytes;
  }
  bool overflow() const noexcept { return m_overflow || m_out == nullptr; }
  std::size_t count() const noexcept { return m_count; }

 private:
  unsigned char* m_out;
  std::size_t m_room;
  std::size_t m_count = 0;
  bool m_overflow = false;
};

bool Refuse(Platform::DWORD code) noexcept {
  Platform::SetLastError(code);
  return false;
}

}  // namespace

std::size_t Base64EncodeGetRequiredLength(std::size_t length) noexcept {
  std::size_t r = 4 * length / 3 + length % 3;
  const std::size_t lines = r / 76;
  const std::size_t onLastLine = r % 76;
  if (onLastLine % 4 != 0) {
    r += 4 - onLastLine % 4;
  }
  return r + 2 * (lines + 1);
}

CBlob Base64Encode(const unsigned char* data, std::size_t length) {
  if (length > kBase64MaxInput) {
    Support::ThrowHResult(Platform::E_FAIL);
  }
  if (data == nullptr && length != 0) {
    Support::ThrowHResult(Platform::E_INVALIDARG);
  }
  CBlob text;
  try {
    text.resize_to(static_cast<unsigned long>(Base64EncodeGetRequiredLength(length)));
  } catch (const std::bad_alloc&) {
    Support::ThrowHResult(Platform::E_OUTOFMEMORY);
  }
  unsigned char* out = text.pbData();
  std::size_t at = 0;
  const auto put = [&](std::uint32_t bits24, int characters) {
    for (int i = 0; i < 4; ++i) {
      out[at++] = i < characters
                      ? static_cast<unsigned char>(kAlphabet[(bits24 >> (18 - 6 * i)) & 63])
                      : '=';
    }
  };
  const std::size_t groups = length / 3;
  for (std::size_t g = 0; g < groups; ++g) {
    const unsigned char* p = data + 3 * g;
    put(std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2], 4);
    if ((g + 1) % kGroupsPerLine == 0) {
      out[at++] = '\r';
      out[at++] = '\n';
    }
  }
  const unsigned char* rest = data + 3 * groups;
  if (length % 3 == 1) {
    put(std::uint32_t{rest[0]} << 16, 2);
  } else if (length % 3 == 2) {
    put(std::uint32_t{rest[0]} << 16 | std::uint32_t{rest[1]} << 8, 3);
  }
  text.resize_to(static_cast<unsigned long>(at));
  return text;
}

CBlob Base64Encode(const CBlob& data) {
  return Base64Encode(data.pbData(), data.cbData());
}

bool Base64Decode(const char* text, std::size_t length, unsigned char* out,
                  std::size_t* outLength) {
  if (text == nullptr || outLength == nullptr) {
    return Refuse(Platform::ERROR_INVALID_PARAMETER);
  }
  Sink sink(out, *outLength);
  std::uint32_t bits = 0;
  int characters = 0;  // of the group being read
  int padding = 0;     // "=" seen; once there is one, only more "=" and white space may follow
  bool valid = true;
  for (std::size_t i = 0; i < length && text[i] != '\0' && valid; ++i) {
    const std::int8_t value = kDecode[static_cast<unsigned char>(text[i])];
    if (value == kSpace) {
      continue;
    }
    if (value == kPad) {
      // Padding may start after the 2nd or 3rd character of a group and fills it to 4.
      valid = padding == 0 ? characters >= 2 : characters + padding < 4;
      ++padding;
    } else if (value == kInvalid || padding != 0) {
      valid = false;
    } else {
      bits = bits << 6 | static_cast<std::uint32_t>(value);
      if (++characters == 4) {
        sink.group(bits, 3);
        bits = 0;
        characters = 0;
      }
    }
  }
  valid = valid && characters != 1 && (padding == 0 || characters + padding == 4);
  if (!valid) {
    *outLength = 0;
    return Refuse(Platform::ERROR_INVALID_DATA);
  }
  if (characters == 2) {
    sink.group(bits << 12, 1);
  } else if (characters == 3) {
    sink.group(bits << 6, 2);
  }
  *outLength = sink.count();
  if (sink.overflow()) {
    return Refuse(Platform::ERROR_MORE_DATA);
  }
  return true;
}

}  // namespace Velmora::PKI::TSP::Client
