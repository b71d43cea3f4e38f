#include "platform/capi/general_name.h"

#include "platform/capi/cert_name_match.h"
#include "platform/errors/winerror.h"

namespace Velmora::Platform::Capi {

namespace Der = ASN1::Der;

namespace {

std::vector<std::uint8_t> Copy(Der::Bytes bytes) {
  return {bytes.begin(), bytes.end()};
}

}  // namespace

GeneralName ReadGeneralName(const Der::Element& e, std::size_t addressFactor) {
  if (e.tag.cls != Der::TagClass::Context || e.tag.number > 8) {
    Der::Fail(CRYPT_E_ASN1_BADTAG);
  }
  const auto form = static_cast<NameForm>(e.tag.number);
  const bool constructed = form == NameForm::Other || form == NameForm::X400 ||
                           form == NameForm::Directory || form == NameForm::EdiParty;
  if (e.tag.constructed != constructed) {
    Der::Fail(CRYPT_E_ASN1_BADTAG);
  }
  if (form == NameForm::Directory) {
    Der::Reader inner = e.children();
    const Der::Element name = inner.expect(Der::Tags::Sequence);
    inner.finish();
    return {form, Copy(name.encoded)};
  }
  if (form == NameForm::IpAddress && e.content.size() != 4 * addressFactor &&
      e.content.size() != 16 * addressFactor) {
    Der::Fail(CRYPT_E_ASN1_ERROR);
  }
  return {form, Copy(e.content)};
}

std::vector<GeneralName> DecodeGeneralNames(std::span<const std::uint8_t> der) {
  const Der::Element sequence = Der::ReadSingle(der);
  if (sequence.tag != Der::Tags::Sequence) {
    Der::Fail(CRYPT_E_ASN1_BADTAG);
  }
  std::vector<GeneralName> names;
  for (Der::Reader members = sequence.children(); !members.empty();) {
    names.push_back(ReadGeneralName(members.next(), 1));
  }
  return names;
}

std::string GeneralNameKey(const GeneralName& name) {
  std::string key(1, static_cast<char>(name.form));
  if (name.form == NameForm::Directory) {
    return key + NameMatchKey(name.value);
  }
  return key.append(name.value.begin(), name.value.end());
}

std::optional<std::string> HttpUrlOf(const GeneralName& name) {
  std::string url(name.value.begin(), name.value.end());
  if (name.form != NameForm::Uri || url.size() <= 7 ||
      (url.compare(0, 7, "http://") != 0 && url.compare(0, 7, "HTTP://") != 0) ||
      url.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  return url;
}

}  // namespace Velmora::Platform::Capi
