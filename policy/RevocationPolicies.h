// The administrator's revocation policy for verifying stamps, read from the same key as the client
// policy set ("Software\Policies\Velmora\TSP", machine value before user value) each time a
// stamp's certificate is verified. docs/policies.md lists the values.
#pragma once

#include "horodex/GroupPolicies.h"

namespace Velmora::PKI::TSP::Client {

struct CRevocationPolicies {
  // An unknown revocation status (no source answered) fails the verification.
  CGPBool RequireRevocationCheck;
  // Revocation data is never fetched from the network: only the token's, the stores', the
  // folders' and the cache's.
  CGPBool DisableRevocationNetwork;
  // Revocation data counts when it is fresh at the stamp's genTime plus RevocationGraceSeconds
  // (for stamps verified long after they were made, with the data captured then); otherwise it
  // must be fresh now.
  CGPBool RevocationFreshAtGenTime;
  CGPLong RevocationGraceSeconds;
  // OCSP requests carry a nonce that the answer must echo (many responders send cached answers
  // that cannot, so it is off by default).
  CGPBool OcspNonce;

  // Opens the key pair and loads both values; failures throw as CClientPolicies::Load does.
  void Load();
  void Load(HKEY machineKey, HKEY userKey);
};

}  // namespace Velmora::PKI::TSP::Client
