#include "platform/text/convert.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora::Platform {
namespace {

static_assert(sizeof(wchar_t) == 4, "wide text is UTF-32 on this platform");

[[noreturn]] void ThrowNoTranslation() {
  AtlThrow(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
}

constexpr bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// ---- The one conversion routine: decode code points from one Unicode form, encode another ----

// Reads one code point at `pos` and advances it; invalid input throws.
char32_t DecodeOne(std::string_view in, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(in[pos]);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  std::size_t extra = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1;
    value = lead & 0x1Fu;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    value = lead & 0x0Fu;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    value = lead & 0x07u;
    minimum = 0x10000;
  } else {
    ThrowNoTranslation();  // stray continuation byte, C0/C1 overlong lead, or F5..FF
  }
  if (in.size() - pos <= extra) {
    ThrowNoTranslation();  // sequence cut short by the end of the text
  }
  for (std::size_t i = 1; i <= extra; ++i) {
    const auto next = static_cast<unsigned char>(in[pos + i]);
    if ((next & 0xC0u) != 0x80u) {
      ThrowNoTranslation();
    }
    value = (value << 6) | (next & 0x3Fu);
  }
  if (value < minimum || value > 0x10FFFF || IsSurrogate(value)) {
    ThrowNoTranslation();  // overlong form, beyond Unicode, or an encoded surrogate
  }
  pos += extra + 1;
  return value;
}

char32_t DecodeOne(Utf16View in, std::size_t& pos) {
  const char32_t unit = in[pos];
  if (!IsSurrogate(unit)) {
    ++pos;
    return unit;
  }
  if (unit >= 0xDC00 || pos + 1 >= in.size()) {
    ThrowNoTranslation();  // low surrogate first, or a high one at the end
  }
  const char32_t low = in[pos + 1];
  if (low < 0xDC00 || low > 0xDFFF) {
    ThrowNoTranslation();
  }
  pos += 2;
  return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
}

char32_t DecodeOne(std::wstring_view in, std::size_t& pos) {
  const auto value = static_cast<std::uint32_t>(in[pos]);
  if (value > 0x10FFFF || IsSurrogate(value)) {
    ThrowNoTranslation();
  }
  ++pos;
  return value;
}

void EncodeOne(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void EncodeOne(char32_t c, Utf16String& out) {
  if (c < 0x10000) {
    out.push_back(static_cast<WCHAR16>(c));
  } else {
    const char32_t v = c - 0x10000;
    out.push_back(static_cast<WCHAR16>(0xD800 + (v >> 10)));
    out.push_back(static_cast<WCHAR16>(0xDC00 + (v & 0x3FF)));
  }
}

void EncodeOne(char32_t c, std::wstring& out) {
  out.push_back(static_cast<wchar_t>(c));
}

// Decodes every code point of `in` (UTF-8, UTF-16 or UTF-32 by its unit type) and encodes it in
// the form of `Out`. Every conversion of the library ends up here.
template <class Out, class In>
Out Transcode(In in) {
  Out out;
  out.reserve(in.size());
  for (std::size_t pos = 0; pos < in.size();) {
    EncodeOne(DecodeOne(in, pos), out);
  }
  return out;
}

// ---- Narrow code sets: UTF-8 directly, anything else bridged to UTF-8 with iconv ----

// True for the code sets read as UTF-8: UTF-8 itself and plain ASCII, its subset.
bool IsUtf8CodeSet(std::string_view codeSet) {
  std::string folded;
  for (char c : codeSet) {
    if (c != '-' && c != '_') {
      folded.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
  }
  return folded == "utf8" || folded == "ansix3.41968" || folded == "ascii" || folded == "usascii" ||
         folded == "646" || folded.empty();
}

struct IconvCloser {
  void operator()(void* cd) const noexcept { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

// Converts `in` from code set `from` to code set `to` with iconv; refuses input that is invalid
// in `from` or cannot be written in `to` (no transliteration).
std::string Iconv(std::string_view in, const std::string& to, const std::string& from) {
  iconv_t raw = iconv_open(to.c_str(), from.c_str());
  if (raw == reinterpret_cast<iconv_t>(-1)) {
    if (errno == ENOMEM) {
      AtlThrow(E_OUTOFMEMORY);
    }
    AtlThrow(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER));  // a code set iconv does not know
  }
  const IconvHandle cd(raw);
  std::string out(in.size() * 2 + 16, '\0');
  // iconv takes a non-const input pointer but never writes through it.
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  std::size_t done = 0;
  for (;;) {
    char* outPtr = out.data() + done;
    std::size_t outLeft = out.size() - done;
    // A last call with no input flushes any shift state of a stateful code set.
    const std::size_t rc = inLeft != 0 ? iconv(raw, &inPtr, &inLeft, &outPtr, &outLeft)
                                       : iconv(raw, nullptr, nullptr, &outPtr, &outLeft);
    done = out.size() - outLeft;
    if (rc != static_cast<std::size_t>(-1)) {
      if (inLeft == 0 && inPtr != nullptr) {
        inPtr = nullptr;  // converted everything: now flush
        continue;
      }
      break;
    }
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    ThrowNoTranslation();  // EILSEQ: invalid or unmappable; EINVAL: cut short at the end
  }
  out.resize(done);
  return out;
}

std::string NarrowToUtf8(std::string_view text, std::string_view codeSet) {
  if (IsUtf8CodeSet(codeSet)) {
    return std::string(text);
  }
  return Iconv(text, "UTF-8", std::string(codeSet));
}

std::string Utf8ToNarrow(std::string_view utf8, std::string_view codeSet) {
  if (IsUtf8CodeSet(codeSet)) {
    return std::string(utf8);
  }
  return Iconv(utf8, std::string(codeSet), "UTF-8");
}

// Runs a conversion and turns an allocation failure into the platform's code.
template <class F>
auto Guarded(F&& convert) -> decltype(convert()) {
  try {
    return convert();
  } catch (const std::bad_alloc&) {
    AtlThrow(E_OUTOFMEMORY);
  } catch (const std::length_error&) {
    AtlThrow(E_OUTOFMEMORY);
  }
}

}  // namespace

std::string CurrentCodeSet() {
  // glibc answers for the calling thread's locale (uselocale) or the global one.
  const char* codeSet = nl_langinfo(CODESET);
  return codeSet != nullptr ? std::string(codeSet) : std::string();
}

std::wstring NarrowToWide(std::string_view text, std::string_view codeSet) {
  return Guarded([&] {
    if (IsUtf8CodeSet(codeSet)) {
      return Transcode<std::wstring>(text);
    }
    const std::string utf8 = NarrowToUtf8(text, codeSet);
    return Transcode<std::wstring>(std::string_view(utf8));
  });
}

std::string WideToNarrow(std::wstring_view text, std::string_view codeSet) {
  return Guarded([&] { return Utf8ToNarrow(Transcode<std::string>(text), codeSet); });
}

std::wstring NarrowToWide(std::string_view text) {
  return NarrowToWide(text, CurrentCodeSet());
}

std::string WideToNarrow(std::wstring_view text) {
  return WideToNarrow(text, CurrentCodeSet());
}

Utf16String NarrowToUtf16(std::string_view text) {
  return Guarded([&] {
    const std::string utf8 = NarrowToUtf8(text, CurrentCodeSet());
    return Transcode<Utf16String>(std::string_view(utf8));
  });
}

std::string Utf16ToNarrow(Utf16View text) {
  return Guarded([&] { return Utf8ToNarrow(Transcode<std::string>(text), CurrentCodeSet()); });
}

Utf16String WideToUtf16(std::wstring_view text) {
  return Guarded([&] { return Transcode<Utf16String>(text); });
}

std::wstring Utf16ToWide(Utf16View text) {
  return Guarded([&] { return Transcode<std::wstring>(text); });
}

std::wstring Utf8ToWide(std::string_view text) {
  return Guarded([&] { return Transcode<std::wstring>(text); });
}

std::string WideToUtf8(std::wstring_view text) {
  return Guarded([&] { return Transcode<std::string>(text); });
}

Utf16String Utf8ToUtf16(std::string_view text) {
  return Guarded([&] { return Transcode<Utf16String>(text); });
}

std::string Utf16ToUtf8(Utf16View text) {
  return Guarded([&] { return Transcode<std::string>(text); });
}

std::size_t Utf16Length(const WCHAR16* text) noexcept {
  if (text == nullptr) {
    return 0;
  }
  std::size_t length = 0;
  while (text[length] != 0) {
    ++length;
  }
  return length;
}

}  // namespace Velmora::Platform
