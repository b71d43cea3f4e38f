// Name constraints of CA certificates, enforced on every certificate below them in a path as
// certificate path validation does it (RFC 5280, 4.2.1.10 and 6.1.3 (b), (c)):
//   - the names of a certificate are its subject (a directoryName, unless empty), each
//     emailAddress attribute of the subject (an rfc822Name) and its subjectAltName entries;
//   - a name of a form for which a CA permits subtrees must lie in at least one of them; a name
//     in any excluded subtree of its form is refused; forms the CA does not name are free;
//   - directoryName: the subtree's RDNs begin the name (compared as chaining compares names);
//     dNSName: the name is the base or ends with "." and the base (".example.com" only its
//     subdomains; an empty base every name); rfc822Name: "user@host" that mailbox, "host" every
//     mailbox at that host, ".host" every mailbox in a subdomain of it; uniformResourceIdentifier:
//     the URI's host is the base ("host") or a subdomain of it (".host"), a URI without a host
//     lies in no subtree; iPAddress: address and mask of 4+4 (IPv4) or 16+16 (IPv6) octets, an
//     address of the other family lies in no subtree. Hosts and domains ignore ASCII case;
//   - other forms (otherName, x400Address, ediPartyName, registeredID) and subtrees with a
//     minimum or maximum are not supported: a critical constraint of such a subtree fails closed
//     on every certificate below that carries a name of its form;
//   - self-issued certificates in the middle of the path are not checked; the root's constraints
//     apply as a CA's do.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/capi/general_name.h"
#include "platform/capi/wincrypt.h"

namespace Velmora::Platform::Capi {

struct GeneralSubtree {
  GeneralName base;
  bool bounded = false;  // a minimum other than 0 or a maximum: not supported
};

struct NameConstraints {
  std::vector<GeneralSubtree> permitted;
  std::vector<GeneralSubtree> excluded;
};

// NameConstraints ::= SEQUENCE { permittedSubtrees [0] GeneralSubtrees OPTIONAL,
//                                excludedSubtrees  [1] GeneralSubtrees OPTIONAL }
// GeneralSubtree ::= SEQUENCE { base GeneralName, minimum [0] BaseDistance DEFAULT 0,
//                               maximum [1] BaseDistance OPTIONAL }
// Throws the codec's exception when malformed (an iPAddress base of other than 8 or 32 octets).
NameConstraints DecodeNameConstraints(std::span<const std::uint8_t> der);

// Whether `name` lies in the subtree whose base is `base` (same form; false across forms and for
// forms not supported). Throws the codec's exception when a directory name cannot be read: an
// unreadable name is neither inside nor outside a subtree.
bool NameWithinSubtree(const GeneralName& name, const GeneralName& base);

// The names a certificate's constraints apply to: subject, its emailAddress attributes and the
// subjectAltName entries. Throws the codec's exception when the subject cannot be walked or the
// subjectAltName is malformed.
std::vector<GeneralName> ConstrainedNamesOf(const CERT_INFO& info);

// Judges the name constraints of a path (subject first, root last): ORs into errors[i] the
// CERT_TRUST_* bits of certificate i. A CA whose nameConstraints does not decode gets
// CERT_TRUST_INVALID_NAME_CONSTRAINTS, and so does a certificate below it whose names cannot be
// read; a name outside the permitted subtrees CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT, one
// inside an excluded subtree CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT, one meeting a critical
// subtree we do not support CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT.
void JudgeNameConstraints(std::span<const PCCERT_CONTEXT> path, std::span<DWORD> errors);

}  // namespace Velmora::Platform::Capi
