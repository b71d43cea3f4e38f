#include "codec/corekit/blob.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/errors/atl_exception.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"

namespace Velmora {

void CBlob::assign(const unsigned char* data, unsigned long length) {
  if (length != 0 && data == nullptr) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  // The source may lie inside this blob, which vector::assign does not allow.
  std::vector<unsigned char> copy(data, data + length);
  m_bytes.swap(copy);
}

CBlob& CBlob::operator+=(const CBlob& other) {
  if (&other == this) {
    // vector::insert may not read from the vector it grows.
    const std::vector<unsigned char> copy(m_bytes);
    m_bytes.insert(m_bytes.end(), copy.begin(), copy.end());
    return *this;
  }
  m_bytes.insert(m_bytes.end(), other.m_bytes.begin(), other.m_bytes.end());
  return *this;
}

CStringProxy CBlob::writeToHexString(unsigned long groupSize) const {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(m_bytes.size() * 3);
  for (std::size_t i = 0; i < m_bytes.size(); ++i) {
    if (i != 0 && groupSize != 0 && i % groupSize == 0) {
      text.push_back(' ');
    }
    text.push_back(kDigits[m_bytes[i] >> 4]);
    text.push_back(kDigits[m_bytes[i] & 0x0F]);
  }
  return CStringProxy(std::move(text));
}

void CBlob::writeToFile(const char* path) const {
  if (path == nullptr) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "wb"));
  auto fail = [] {
    // Creating a file meets ENOENT only when a folder of its path is missing.
    const int code = errno;
    Platform::AtlThrow(Platform::HRESULT_FROM_WIN32(
        code == ENOENT ? Platform::ERROR_PATH_NOT_FOUND : Platform::Win32FromErrno(code)));
  };
  if (!file) {
    fail();
  }
  if (!m_bytes.empty() &&
      std::fwrite(m_bytes.data(), 1, m_bytes.size(), file.get()) != m_bytes.size()) {
    fail();
  }
  if (std::fclose(file.release()) != 0) {
    fail();
  }
}

}  // namespace Velmora
