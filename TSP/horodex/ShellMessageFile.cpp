// ReadMessageFile, DecodeMessageContent and DecodeBase64Text: the file reading of the shell entry
// points.
#include "TSP/horodex/ShellMessageFile.h"

#include <cstring>
#include <new>
#include <string_view>

#include "TSP/horodex/Base64.h"
#include "platform/file/fileapi.h"
#include "platform/text/convert.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {
namespace {

using Platform::DWORD;
using Platform::E_FAIL;
using Platform::E_INVALIDARG;
using Platform::S_OK;
using Support::HResultFromWin32;

constexpr HRESULT kMoreData = Support::HResultFromWin32(Platform::ERROR_MORE_DATA);
constexpr HRESULT kEndOfFile = Support::HResultFromWin32(Platform::ERROR_HANDLE_EOF);

// White space as the C runtime's isspace has it in the "C" locale, whatever the locale is.
bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A blank 16-bit unit of UTF-16 text: TAB, LF, CR or SPACE.
bool IsBlankUnit(unsigned unit) {
  return unit == 9 || unit == 10 || unit == 13 || unit == 32;
}

bool StartsText(unsigned char c) {
  return c == 'M' || c == '-';
}

// A string of `size` NUL bytes; a failed allocation throws E_OUTOFMEMORY.
std::string Buffer(std::size_t size) {
  try {
    return std::string(size, '\0');
  } catch (const std::bad_alloc&) {
    Support::ThrowHResult(Platform::E_OUTOFMEMORY);
  }
}

// UTF-16 text of `length` bytes, converted to the locale's code set, then decoded as Base64 text.
HRESULT DecodeUtf16Text(const unsigned char* data, std::size_t length, bool bigEndian,
                        unsigned char* out, std::size_t* outLength) {
  if (bigEndian && length % 2 != 0) {
    return E_INVALIDARG;
  }
  std::string narrow;
  try {
    Platform::Utf16String units(length / 2, 0);
    for (std::size_t i = 0; i < units.size(); ++i) {
      const unsigned first = data[2 * i];
      const unsigned second = data[2 * i + 1];
      units[i] =
          static_cast<Platform::WCHAR16>(bigEndian ? first << 8 | second : second << 8 | first);
    }
    narrow = Platform::Utf16ToNarrow(units);
  } catch (const Platform::CAtlException& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Platform::E_OUTOFMEMORY;
  }
  return DecodeBase64Text(narrow.data(), narrow.size(), out, outLength);
}

// The body of a framed block: the text between the second run of dashes (the one after the
// label) and the third. False when the third run is never reached.
bool FramedBody(std::string_view text, std::string_view* body) {
  std::size_t pos = 0;
  const auto skipDashes = [&] {
    while (pos < text.size() && text[pos] == '-') {
      ++pos;
    }
  };
  const auto skipOthers = [&] {
    while (pos < text.size() && text[pos] != '-') {
      ++pos;
    }
  };
  skipDashes();  // the first run
  skipOthers();  // the label
  skipDashes();  // the second run
  const std::size_t start = pos;
  skipOthers();
  if (pos == text.size()) {
    return false;
  }
  *body = text.substr(start, pos - start);
  return true;
}

}  // namespace

HRESULT DecodeBase64Text(const char* data, std::size_t length, unsigned char* out,
                         std::size_t* outLength) {
  if (data == nullptr || outLength == nullptr) {
    return E_INVALIDARG;
  }
  if (length == 0) {
    return E_FAIL;
  }
  std::string text;
  try {
    text.reserve(length);
  } catch (const std::bad_alloc&) {
    return Platform::E_OUTOFMEMORY;
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (!IsSpace(static_cast<unsigned char>(data[i]))) {
      text += data[i];
    }
  }
  std::string_view body = text;
  if (!text.empty() && text.front() == '-' && !FramedBody(text, &body)) {
    return E_FAIL;
  }

  std::size_t decoded = out == nullptr ? 0 : *outLength;
  if (Base64Decode(body.data(), body.size(), out, &decoded)) {
    *outLength = decoded;
    return S_OK;
  }
  if (Platform::GetLastError() != Platform::ERROR_MORE_DATA) {
    // Not Base64 at all: refused at once, also by a size query, so that no caller goes on to
    // allocate and decode for a count of zero.
    return E_FAIL;
  }
  *outLength = decoded;
  return out == nullptr ? S_OK : kMoreData;
}

HRESULT DecodeMessageContent(const unsigned char* data, std::size_t length, unsigned char* out,
                             std::size_t* outLength) {
  if (data == nullptr || outLength == nullptr) {
    return E_INVALIDARG;
  }
  const auto* text = reinterpret_cast<const char*>(data);
  if (length >= 4 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
    return DecodeBase64Text(text + 3, length - 3, out, outLength);
  }
  if (length >= 3 && data[0] == 0xFF && data[1] == 0xFE) {
    return DecodeUtf16Text(data + 2, length - 2, false, out, outLength);
  }
  if (length >= 3 && data[0] == 0xFE && data[1] == 0xFF) {
    return DecodeUtf16Text(data + 2, length - 2, true, out, outLength);
  }
  if (length >= 2) {
    // The byte order of text without a mark is told from its first unit that is not blank. A blank
    // unit is skipped in either order, so big-endian text that starts with blank lines is found
    // as well as little-endian text.
    std::size_t unit = 0;
    while (unit < length / 2 && (IsBlankUnit(data[2 * unit] | data[2 * unit + 1] << 8) ||
                                 IsBlankUnit(data[2 * unit] << 8 | data[2 * unit + 1]))) {
      ++unit;
    }
    if (unit < length / 2) {
      const unsigned char b0 = data[2 * unit];
      const unsigned char b1 = data[2 * unit + 1];
      if (StartsText(b0) && b1 == 0) {
        return DecodeUtf16Text(data, length, false, out, outLength);
      }
      if (StartsText(b1) && b0 == 0) {
        return DecodeUtf16Text(data, length, true, out, outLength);
      }
    }
  }
  std::size_t first = 0;
  while (first < length && IsSpace(data[first])) {
    ++first;
  }
  if (first < length && StartsText(data[first])) {
    return DecodeBase64Text(text, length, out, outLength);
  }

  // The DER message itself.
  if (out != nullptr) {
    if (*outLength < length) {
      return kMoreData;
    }
    if (length != 0) {
      std::memcpy(out, data, length);
    }
  }
  *outLength = length;
  return S_OK;
}

HRESULT ReadMessageFile(const char* fileName, std::string& out) {
  if (fileName == nullptr) {
    return E_INVALIDARG;
  }
  const std::wstring name = Platform::NarrowToWide(fileName);
  const Platform::FileHandle file(Platform::CreateFileW(
      name.c_str(), Platform::GENERIC_READ, Platform::FILE_SHARE_READ, nullptr,
      Platform::OPEN_EXISTING, Platform::FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return Support::HResultFromLastError();
  }
  DWORD sizeHigh = 0;
  const DWORD size = Platform::GetFileSize(file.get(), &sizeHigh);
  if (size == Platform::INVALID_FILE_SIZE && Platform::GetLastError() != 0) {
    return Support::HResultFromLastError();
  }
  // 2 GiB or more: the size no longer fits a signed 32-bit count.
  if (sizeHigh != 0 || size > 0x7FFFFFFFu) {
    Support::ThrowHResult(E_INVALIDARG);
  }

  std::string content = Buffer(size);
  DWORD read = 0;
  if (!Platform::ReadFile(file.get(), content.data(), size, &read, nullptr)) {
    return Support::HResultFromLastError();
  }
  if (read < size) {
    return kEndOfFile;
  }

  const auto* bytes = reinterpret_cast<const unsigned char*>(content.data());
  std::size_t length = 0;
  HRESULT hr = DecodeMessageContent(bytes, content.size(), nullptr, &length);
  if (Platform::FAILED(hr)) {
    return hr;
  }
  std::string decoded = Buffer(length);
  hr = DecodeMessageContent(bytes, content.size(), reinterpret_cast<unsigned char*>(decoded.data()),
                            &length);
  if (Platform::SUCCEEDED(hr)) {
    decoded.resize(length);
    out = std::move(decoded);
  }
  return hr;
}

}  // namespace Velmora::PKI::TSP::Client
