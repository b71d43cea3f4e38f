// CBlob: an owned, growable byte buffer. An empty blob stands for an absent value throughout the
// library (a cleared cached encoding, a stamp never imported, an absent nonce).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "codec/corekit/string_proxy.h"

namespace Velmora {

class CBlob {
 public:
  CBlob() = default;
  explicit CBlob(unsigned long size) : m_bytes(size) {}
  CBlob(const unsigned char* data, unsigned long length) { assign(data, length); }
  explicit CBlob(std::span<const unsigned char> bytes) : m_bytes(bytes.begin(), bytes.end()) {}
  explicit CBlob(std::vector<unsigned char> bytes) : m_bytes(std::move(bytes)) {}

  void assign(const unsigned char* data, unsigned long length);
  void clear() noexcept { m_bytes.clear(); }
  // Keeps the leading bytes and sets the length; new bytes are zero.
  void resize_to(unsigned long length) { m_bytes.resize(length); }

  unsigned long cbData() const noexcept { return static_cast<unsigned long>(m_bytes.size()); }
  unsigned char* pbData() noexcept { return m_bytes.empty() ? nullptr : m_bytes.data(); }
  const unsigned char* pbData() const noexcept {
    return m_bytes.empty() ? nullptr : m_bytes.data();
  }
  bool empty() const noexcept { return m_bytes.empty(); }

  std::span<const unsigned char> span() const noexcept { return m_bytes; }
  const std::vector<unsigned char>& bytes() const noexcept { return m_bytes; }

  CBlob& operator+=(const CBlob& other);
  friend bool operator==(const CBlob& a, const CBlob& b) noexcept { return a.m_bytes == b.m_bytes; }

  // Upper-case hexadecimal text for display; a non-zero `groupSize` puts a space after every
  // `groupSize` bytes (1 gives "30 82 01 0A").
  CStringProxy writeToHexString(unsigned long groupSize) const;
  // Writes the bytes to the named file; a failure throws the HRESULT of the system's error.
  void writeToFile(const char* path) const;

 private:
  std::vector<unsigned char> m_bytes;
};

}  // namespace Velmora
