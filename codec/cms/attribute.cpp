#include "codec/cms/attribute.h"

#include <algorithm>

#include "platform/errors/winerror.h"

namespace Velmora::ASN1 {

namespace {

CBlob Copy(Der::Bytes bytes) {
  return CBlob(std::span<const unsigned char>(bytes.data(), bytes.size()));
}

}  // namespace

CAttribute::CAttribute(std::string attrType, CBlobList values)
    : m_type(std::move(attrType)), m_values(std::move(values)) {}

void CAttribute::read(const Der::Element& element) {
  if (!(element.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader members = element.children();
  std::string type = Der::ReadOid(members.expect(Der::Tags::Oid));
  CBlobList values;
  Der::Reader set = members.expect(Der::Tags::Set).children();
  while (!set.empty()) {
    values.push_back(Copy(set.next().encoded));
  }
  members.finish();
  m_type = std::move(type);
  m_values = std::move(values);
  m_encoded = Copy(element.encoded);
}

void CAttribute::decode(const CBlob& encoded) {
  CAttribute decoded;
  decoded.read(Der::ReadSingle(encoded.span()));
  *this = std::move(decoded);
}

void CAttribute::write(Der::Writer& writer) const {
  if (!m_encoded.empty()) {
    writer.raw(m_encoded.span());
    return;
  }
  writer.sequence([&](Der::Writer& attribute) {
    attribute.oid(m_type);
    std::vector<std::vector<std::uint8_t>> values;
    for (const CBlob& value : m_values) {
      values.emplace_back(value.bytes());
    }
    std::sort(values.begin(), values.end());
    attribute.constructed(Der::Tags::Set, [&](Der::Writer& set) {
      for (const auto& value : values) {
        set.raw(value);
      }
    });
  });
}

CBlob CAttribute::encode() const {
  if (!m_encoded.empty()) {
    return m_encoded;
  }
  Der::Writer writer;
  write(writer);
  return CBlob(writer.take());
}

const CAttribute* CAttributes::find(std::string_view attrType) const noexcept {
  for (const CAttribute& attribute : m_items) {
    if (attrType == attribute.get_attrType()) {
      return &attribute;
    }
  }
  return nullptr;
}

std::size_t CAttributes::count(std::string_view attrType) const noexcept {
  return static_cast<std::size_t>(
      std::count_if(m_items.begin(), m_items.end(),
                    [&](const CAttribute& a) { return attrType == a.get_attrType(); }));
}

const CBlob* CAttributes::findSingleValue(std::string_view attrType) const {
  const CAttribute* attribute = find(attrType);
  if (attribute == nullptr) {
    return nullptr;
  }
  if (count(attrType) != 1 || attribute->get_values().size() != 1) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
  }
  return &attribute->get_values().front();
}

void CAttributes::read(const Der::Element& element, bool allowEmpty) {
  CDllList<CAttribute> items;
  Der::Reader members = element.children();
  while (!members.empty()) {
    CAttribute attribute;
    attribute.read(members.next());
    items.push_back(std::move(attribute));
  }
  if (items.empty() && !allowEmpty) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
  }
  m_items = std::move(items);
}

void CAttributes::write(Der::Writer& writer, const Der::Tag& tag) const {
  std::vector<std::vector<std::uint8_t>> encodings;
  for (const CAttribute& attribute : m_items) {
    encodings.emplace_back(attribute.encode().bytes());
  }
  std::sort(encodings.begin(), encodings.end());
  writer.constructed(tag, [&](Der::Writer& set) {
    for (const auto& encoding : encodings) {
      set.raw(encoding);
    }
  });
}

}  // namespace Velmora::ASN1
