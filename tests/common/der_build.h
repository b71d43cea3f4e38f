// Hand-built DER for tests, written with the codec's own writer, and the code a call throws.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "codec/der/der_writer.h"
#include "platform/errors/atl_exception.h"

namespace Velmora::Testing::DerBuild {

namespace Der = ASN1::Der;
using V = std::vector<std::uint8_t>;

inline V Tlv(const Der::Tag& tag, const V& content) {
  Der::Writer w;
  w.tlv(tag, content);
  return w.take();
}
inline V Join(std::initializer_list<V> parts) {
  V out;
  for (const V& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}
inline V Seq(std::initializer_list<V> parts) {
  return Tlv(Der::Tags::Sequence, Join(parts));
}
inline V Set(std::initializer_list<V> parts) {
  return Tlv(Der::Tags::Set, Join(parts));
}
// A constructed context-specific element [n].
inline V Ctx(std::uint32_t n, const V& content) {
  return Tlv(Der::ContextTag(n, true), content);
}
inline V Int(std::uint64_t value) {
  Der::Writer w;
  w.integer(value);
  return w.take();
}
inline V Oid(const char* oid) {
  Der::Writer w;
  w.oid(oid);
  return w.take();
}
inline V Octets(const V& content) {
  return Tlv(Der::Tags::OctetString, content);
}
inline V Bool(bool value) {
  Der::Writer w;
  w.boolean(value);
  return w.take();
}
inline V Time(const std::string& text) {
  return Tlv(Der::Tags::GeneralizedTime, V(text.begin(), text.end()));
}

// The HRESULT that `fn` throws, or S_OK when it returns.
inline Platform::HRESULT CodeOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Platform::CAtlException& e) {
    return e.hr();
  }
  return 0;
}

}  // namespace Velmora::Testing::DerBuild
