#include "platform/capi/name_constraints.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"
#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_name_match.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora::Platform::Capi {

namespace {

namespace Der = ASN1::Der;

constexpr const char* kOidNameConstraints = "2.5.29.30";
constexpr const char* kOidSubjectAltName = "2.5.29.17";
constexpr std::string_view kOidEmailAddress = "1.2.840.113549.1.9.1";

bool Supported(NameForm form) noexcept {
  return form == NameForm::Rfc822 || form == NameForm::Dns || form == NameForm::Directory ||
         form == NameForm::Uri || form == NameForm::IpAddress;
}

std::vector<std::uint8_t> Copy(Der::Bytes bytes) {
  return {bytes.begin(), bytes.end()};
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return out;
}

std::string_view Text(const std::vector<std::uint8_t>& value) {
  return {reinterpret_cast<const char*>(value.data()), value.size()};
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// A host (or mail domain) against a base: ".base" takes its subdomains only, "base" itself and,
// when `subdomains`, its subdomains too.
bool HostWithin(std::string_view host, std::string_view base, bool subdomains) {
  if (base.empty()) {
    return true;
  }
  if (base.front() == '.') {
    return host.size() > base.size() && EndsWith(host, base);
  }
  if (host == base) {
    return true;
  }
  return subdomains && host.size() > base.size() && EndsWith(host, base) &&
         host[host.size() - base.size() - 1] == '.';
}

bool MailboxWithin(std::string_view mailbox, std::string_view base) {
  const std::size_t at = mailbox.rfind('@');
  if (at == std::string_view::npos) {
    return false;
  }
  const std::string domain = Lower(mailbox.substr(at + 1));
  const std::size_t baseAt = base.rfind('@');
  if (baseAt != std::string_view::npos) {
    // One mailbox: the local part as written, the domain without regard to case.
    return mailbox.substr(0, at) == base.substr(0, baseAt) &&
           domain == Lower(base.substr(baseAt + 1));
  }
  return HostWithin(domain, Lower(base), false);
}

// The host of "scheme://[userinfo@]host[:port]/...", lower case; nothing without an authority.
std::optional<std::string> UriHost(std::string_view uri) {
  const std::size_t scheme = uri.find("://");
  if (scheme == std::string_view::npos || scheme == 0) {
    return std::nullopt;
  }
  std::string_view authority = uri.substr(scheme + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string_view host;
  if (!authority.empty() && authority.front() == '[') {
    host = authority.substr(0, authority.find(']') + 1);
  } else {
    host = authority.substr(0, authority.find(':'));
  }
  if (host.empty()) {
    return std::nullopt;
  }
  return Lower(host);
}

// The RDNs of a Name, each as the key of a one-RDN name. A name that cannot be read throws: the
// caller must not take it for one outside an excluded subtree.
std::vector<std::string> RdnKeys(std::span<const std::uint8_t> der) {
  const Der::Element name = Der::ReadSingle(der);
  if (name.tag != Der::Tags::Sequence) {
    Der::Fail(CRYPT_E_ASN1_BADTAG);
  }
  std::vector<std::string> keys;
  for (Der::Reader rdns = name.children(); !rdns.empty();) {
    const Der::Element rdn = rdns.expect(Der::Tags::Set);
    Der::Writer one;
    one.sequence([&](Der::Writer& w) { w.raw(rdn.encoded); });
    std::string key = NameMatchKey(one.bytes());
    if (key.empty() || key[0] == '\x00') {  // the key of an RDN that does not decode
      Der::Fail(CRYPT_E_ASN1_CORRUPT);
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

bool DirectoryWithin(std::span<const std::uint8_t> name, std::span<const std::uint8_t> base) {
  const std::vector<std::string> names = RdnKeys(name);
  const std::vector<std::string> bases = RdnKeys(base);
  return bases.size() <= names.size() && std::equal(bases.begin(), bases.end(), names.begin());
}

// A CA's constraints as the certificates below it meet them.
struct Constraint {
  NameConstraints value;
  bool critical = false;
};

// The CERT_TRUST_* bits one name earns under one CA's constraints.
DWORD JudgeName(const GeneralName& name, const Constraint& constraint) {
  DWORD bits = 0;
  bool anyPermitted = false;
  bool permitted = false;
  const auto unsupported = [&](const GeneralSubtree& subtree) {
    return !Supported(subtree.base.form) || subtree.bounded;
  };
  for (const GeneralSubtree& subtree : constraint.value.permitted) {
    if (subtree.base.form != name.form) {
      continue;
    }
    anyPermitted = true;
    if (unsupported(subtree)) {
      bits |= constraint.critical ? CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT : 0;
      permitted = true;  // not judged here
    } else if (NameWithinSubtree(name, subtree.base)) {
      permitted = true;
    }
  }
  if (anyPermitted && !permitted) {
    bits |= CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT;
  }
  for (const GeneralSubtree& subtree : constraint.value.excluded) {
    if (subtree.base.form != name.form) {
      continue;
    }
    if (unsupported(subtree)) {
      bits |= constraint.critical ? CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT : 0;
    } else if (NameWithinSubtree(name, subtree.base)) {
      bits |= CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT;
    }
  }
  return bits;
}

}  // namespace

NameConstraints DecodeNameConstraints(std::span<const std::uint8_t> der) {
  const Der::Element sequence = Der::ReadSingle(der);
  if (sequence.tag != Der::Tags::Sequence) {
    Der::Fail(CRYPT_E_ASN1_BADTAG);
  }
  NameConstraints result;
  Der::Reader members = sequence.children();
  const auto readSubtrees = [&](std::uint32_t tag, std::vector<GeneralSubtree>& into) {
    const auto subtrees = members.optional(Der::ContextTag(tag, true));
    if (!subtrees) {
      return;
    }
    for (Der::Reader list = subtrees->children(); !list.empty();) {
      Der::Reader subtree = list.expect(Der::Tags::Sequence).children();
      GeneralSubtree entry{ReadGeneralName(subtree.next(), 2)};
      if (auto minimum = subtree.optional(Der::ContextTag(0, false))) {
        minimum->tag = Der::Tags::Integer;
        entry.bounded = Der::ReadSmallUnsigned(*minimum, ~0ull) != 0;
      }
      if (auto maximum = subtree.optional(Der::ContextTag(1, false))) {
        maximum->tag = Der::Tags::Integer;
        Der::ReadSmallUnsigned(*maximum, ~0ull);
        entry.bounded = true;
      }
      subtree.finish();
      into.push_back(std::move(entry));
    }
    if (into.empty()) {
      Der::Fail(CRYPT_E_ASN1_ERROR);  // SIZE (1..MAX)
    }
  };
  readSubtrees(0, result.permitted);
  readSubtrees(1, result.excluded);
  members.finish();
  return result;
}

bool NameWithinSubtree(const GeneralName& name, const GeneralName& base) {
  if (name.form != base.form) {
    return false;
  }
  switch (name.form) {
    case NameForm::Dns:
      return HostWithin(Lower(Text(name.value)), Lower(Text(base.value)), true);
    case NameForm::Rfc822:
      return MailboxWithin(Text(name.value), Text(base.value));
    case NameForm::Uri: {
      const auto host = UriHost(Text(name.value));
      return host && HostWithin(*host, Lower(Text(base.value)), false);
    }
    case NameForm::IpAddress:
      if (base.value.size() != 2 * name.value.size()) {
        return false;
      }
      for (std::size_t i = 0; i < name.value.size(); ++i) {
        const std::uint8_t mask = base.value[name.value.size() + i];
        if ((name.value[i] & mask) != (base.value[i] & mask)) {
          return false;
        }
      }
      return true;
    case NameForm::Directory:
      return DirectoryWithin(name.value, base.value);
    default:
      return false;
  }
}

std::vector<GeneralName> ConstrainedNamesOf(const CERT_INFO& info) {
  std::vector<GeneralName> names;
  const std::span<const std::uint8_t> subject(info.Subject.pbData, info.Subject.cbData);
  // A subject that cannot be walked throws: its e-mail addresses would escape the constraints.
  const Der::Element subjectName = Der::ReadSingle(subject);
  if (!subjectName.content.empty()) {
    names.push_back({NameForm::Directory, Copy(subject)});
  }
  for (Der::Reader rdns = subjectName.children(); !rdns.empty();) {
    for (Der::Reader avas = rdns.expect(Der::Tags::Set).children(); !avas.empty();) {
      Der::Reader ava = avas.expect(Der::Tags::Sequence).children();
      if (Der::ReadOid(ava.expect(Der::Tags::Oid)) == kOidEmailAddress) {
        names.push_back({NameForm::Rfc822, Copy(ava.next().content)});
      }
    }
  }
  if (const CERT_EXTENSION* san = FindExtension(info, kOidSubjectAltName)) {
    for (GeneralName& name : DecodeGeneralNames({san->Value.pbData, san->Value.cbData})) {
      names.push_back(std::move(name));
    }
  }
  return names;
}

void JudgeNameConstraints(std::span<const PCCERT_CONTEXT> path, std::span<DWORD> errors) {
  std::vector<Constraint> above;  // of the CAs above the certificate being judged
  for (std::size_t j = path.size(); j-- > 0;) {
    const CERT_INFO& info = *path[j]->pCertInfo;
    if (!above.empty() && (j == 0 || !FactsOf(path[j]).selfIssued)) {
      try {
        for (const GeneralName& name : ConstrainedNamesOf(info)) {
          for (const Constraint& constraint : above) {
            errors[j] |= JudgeName(name, constraint);
          }
        }
      } catch (const CAtlException&) {  // a name that cannot be read is no name within bounds
        errors[j] |= CERT_TRUST_INVALID_NAME_CONSTRAINTS;
      }
    }
    if (j == 0) {
      break;
    }
    if (const CERT_EXTENSION* extension = FindExtension(info, kOidNameConstraints)) {
      try {
        above.push_back({DecodeNameConstraints({extension->Value.pbData, extension->Value.cbData}),
                         extension->fCritical != FALSE});
      } catch (const CAtlException&) {
        errors[j] |= CERT_TRUST_INVALID_NAME_CONSTRAINTS;
      }
    }
  }
}

}  // namespace Velmora::Platform::Capi
