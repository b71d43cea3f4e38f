#include "codec/cms/signature_time_stamps.h"

#include <cstdint>

#include "codec/cms/signed_data.h"
#include "platform/errors/winerror.h"

namespace Velmora::ASN1 {

namespace {

using Der::Bytes;
using Buffer = std::vector<std::uint8_t>;

void Append(Buffer& out, Bytes bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

// The element's identifier octets: its encoding up to the length octets.
Bytes TagOctets(const Der::Element& e) {
  std::size_t n = 1;
  if ((e.encoded[0] & 0x1F) == 0x1F) {
    while ((e.encoded[n] & 0x80) != 0) {
      ++n;
    }
    ++n;
  }
  return e.encoded.first(n);
}

void AppendLength(Buffer& out, std::size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<std::uint8_t>(length));
    return;
  }
  std::uint8_t octets[sizeof(std::size_t)];
  std::size_t n = 0;
  for (std::size_t rest = length; rest != 0; rest >>= 8) {
    octets[n++] = static_cast<std::uint8_t>(rest);
  }
  out.push_back(static_cast<std::uint8_t>(0x80 | n));
  while (n != 0) {
    out.push_back(octets[--n]);
  }
}

// `e` with `content` instead of its content octets: an indefinite length stays with its header
// and end-of-contents marker as received, a definite one is written for the new size.
Buffer Rewrap(const Der::Element& e, Bytes content) {
  Buffer out;
  const std::size_t headerSize = static_cast<std::size_t>(e.content.data() - e.encoded.data());
  if (e.indefinite) {
    Append(out, e.encoded.first(headerSize));
  } else {
    Append(out, TagOctets(e));
    AppendLength(out, content.size());
  }
  Append(out, content);
  Append(out, e.encoded.subspan(headerSize + e.content.size()));  // the marker, if any
  return out;
}

// `parent` with its member `child` replaced by `replacement`.
Buffer Replace(const Der::Element& parent, const Der::Element& child, Bytes replacement) {
  const std::size_t before = static_cast<std::size_t>(child.encoded.data() - parent.content.data());
  Buffer content;
  content.reserve(parent.content.size() - child.encoded.size() + replacement.size());
  Append(content, parent.content.first(before));
  Append(content, replacement);
  Append(content, parent.content.subspan(before + child.encoded.size()));
  return Rewrap(parent, content);
}

// `signer` with `attribute` appended to its unsigned attributes.
Buffer AppendToSigner(const Der::Element& signer, const CAttribute& attribute) {
  Der::Reader fields = signer.children();
  for (int i = 0; i < 3; ++i) {  // version, sid, digestAlgorithm
    fields.next();
  }
  fields.optional(Der::ContextTag(0, true));  // signedAttrs
  fields.expect(Der::Tags::Sequence);         // signatureAlgorithm
  const Der::Element signature = fields.expect(Der::Tags::OctetString);
  const std::optional<Der::Element> unsignedAttrs = fields.optional(Der::ContextTag(1, true));
  fields.finish();

  const std::size_t kept =
      static_cast<std::size_t>(signature.encoded.data() - signer.content.data()) +
      signature.encoded.size();
  Buffer attributes;
  if (unsignedAttrs) {
    Append(attributes, unsignedAttrs->content);
  }
  Append(attributes, attribute.encode().span());
  Buffer content(signer.content.begin(), signer.content.begin() + kept);
  content.push_back(0xA1);  // [1] IMPLICIT SET OF Attribute
  AppendLength(content, attributes.size());
  Append(content, attributes);
  return Rewrap(signer, content);
}

}  // namespace

std::vector<CBlob> SignatureTimeStamps(const CSignerInfo& signer) {
  std::vector<CBlob> stamps;
  const CAttributes* attributes = signer.get_unsignedAttributes();
  if (attributes == nullptr) {
    return stamps;
  }
  for (const CAttribute& attribute : *attributes) {
    if (std::string_view(attribute.get_attrType()) != AttributeOids::SignatureTimeStampToken) {
      continue;
    }
    for (const CBlob& value : attribute.get_values()) {
      if (value.empty() || value.pbData()[0] != 0x30) {
        Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
      }
      stamps.push_back(value);
    }
  }
  return stamps;
}

const CBlob& StampableSignature(const CSignerInfo& signer) {
  const CBlob& signature = signer.get_signature();
  if (signature.empty()) {
    Der::Fail(Platform::NTE_BAD_SIGNATURE);
  }
  if (signature.cbData() > kMaxSignatureValue) {
    Der::Fail(Platform::CRYPT_E_ASN1_LARGE);
  }
  return signature;
}

CBlob AddUnsignedAttribute(std::span<const unsigned char> contentInfo, std::size_t index,
                           const CAttribute& attribute) {
  const Der::Element info = Der::ReadSingle(contentInfo);
  if (!(info.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader infoFields = info.children();
  if (Der::ReadOid(infoFields.expect(Der::Tags::Oid)) != CmsOids::SignedData) {
    Der::Fail(Platform::CRYPT_E_INVALID_MSG_TYPE);
  }
  const Der::Element explicitContent = infoFields.expect(Der::ContextTag(0, true));
  infoFields.finish();
  Der::Reader explicitReader = explicitContent.children();
  const Der::Element signedData = explicitReader.expect(Der::Tags::Sequence);
  explicitReader.finish();

  Der::Reader fields = signedData.children();
  fields.expect(Der::Tags::Integer);
  fields.expect(Der::Tags::Set);
  fields.expect(Der::Tags::Sequence);
  fields.optional(Der::ContextTag(0, true));
  fields.optional(Der::ContextTag(1, true));
  const Der::Element signerInfos = fields.expect(Der::Tags::Set);
  fields.finish();

  Der::Reader signers = signerInfos.children();
  std::optional<Der::Element> signer;
  for (std::size_t i = 0; !signers.empty(); ++i) {
    Der::Element next = signers.next();
    if (i == index) {
      signer = next;
    }
  }
  if (!signer) {
    Der::Fail(Platform::CRYPT_E_INVALID_INDEX);
  }
  const Buffer newSigner = AppendToSigner(*signer, attribute);
  const Buffer newSignerInfos = Replace(signerInfos, *signer, newSigner);
  const Buffer newSignedData = Replace(signedData, signerInfos, newSignerInfos);
  const Buffer newExplicit = Replace(explicitContent, signedData, newSignedData);
  return CBlob(Replace(info, explicitContent, newExplicit));
}

}  // namespace Velmora::ASN1
