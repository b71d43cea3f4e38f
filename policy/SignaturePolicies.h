// The administrator's rule for weak signature algorithms, read from the same key as the client
// policy set ("Software\Policies\Velmora\TSP", machine value before user value) each time a
// stamp is verified. docs/policies.md lists the values; an unset or unreadable one keeps the
// chain engine's default.
#pragma once

#include "horodex/GroupPolicies.h"

namespace Velmora::PKI::TSP::Client {

struct CSignaturePolicies {
  // Dates "YYYY-MM-DD" (UTC midnight): objects made after them may not be signed with SHA-1, or
  // with an RSA key below MinRsaKeyBits.
  CGPString WeakSha1SignaturesAfter;
  CGPString WeakRsaKeysAfter;
  CGPLong MinRsaKeyBits;  // 0: the default

  // Opens the key pair and loads the values; failures throw as CClientPolicies::Load does.
  void Load();
  void Load(HKEY machineKey, HKEY userKey);
};

}  // namespace Velmora::PKI::TSP::Client
