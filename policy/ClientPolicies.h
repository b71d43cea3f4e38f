// The client policy set: every administrator policy that governs a time-stamp request, loaded
// at once from "Software\Policies\Velmora\TSP" (machine value before user value) and held by the
// request. It is read afresh for every request that loads it and never cached for the process,
// so a change of the hive files reaches the next request. docs/policies.md lists the values.
#pragma once

#include "horodex/GroupPolicies.h"

namespace Velmora::PKI::TSP::Client {

struct CClientPolicies {
  // Fields in the order of the policy table; each starts at its default.
  CGPString DefaultHashAlg;       // a dotted OID, optionally followed by a space and any text
  CGPLong NonceLength{8};         // bytes
  CGPLong StampAccuracy{180000};  // milliseconds, either way of the moment of sending
  CGPStrings HashAlgsAllowed;     // switch "HashAlgsAllowedSetted"
  CGPStrings HashAlgsDenied;      // switch "HashAlgsDeniedSetted"
  CGPBool DefaultCertReq;
  CGPBool RequireNonce;
  CGPBool DisableNonce;
  CGPBool UseNonceByDefault{true};
  CGPString DefaultTSPURL;
  CGPStrings AllowedTSPs;  // switch "AllowedTSPsSetted"
  CGPString DefaultProxy;
  CGPStrings AllowedProxies;  // switch "AllowedProxiesSetted"
  CGPBool DisablePolicyID;
  CGPString DefaultPolicyID;
  CGPStrings AllowedPolicyID;  // switch "AllowedPolicyIDSetted"
  CGPLong AuthTypeDefault;     // enumAuthTypes of a TSA address not beginning with "https://"
  CGPLong AuthSSLTypeDefault;  // ... of one beginning with "https://"
  CGPBool AuthSSLDenyAnonym, AuthSSLDenyBasic, AuthSSLDenyDigest, AuthSSLDenyNTLM,
      AuthSSLDenyNegotiate;
  CGPBool AuthDenyAnonym, AuthDenyBasic, AuthDenyDigest, AuthDenyNTLM, AuthDenyNegotiate;
  CGPLong ProxyAuthTypeDefault;
  CGPLong ProxyAuthSSLTypeDefault;
  CGPBool ProxyAuthSSLDenyAnonym, ProxyAuthSSLDenyBasic, ProxyAuthSSLDenyDigest,
      ProxyAuthSSLDenyNTLM, ProxyAuthSSLDenyNegotiate;
  CGPBool ProxyAuthDenyAnonym, ProxyAuthDenyBasic, ProxyAuthDenyDigest, ProxyAuthDenyNTLM,
      ProxyAuthDenyNegotiate;

  // Opens the policy key pair and loads every value, then closes the keys. A key that cannot be
  // opened for another reason than its absence throws HRESULT_FROM_WIN32 of its code (a broken
  // hive file: 0x800703F1); a reader's failure (a value of the wrong type: 0x8007000D) throws
  // too, and the fields read before it keep their new values.
  void Load();

  // Loads every value from keys already open (either may be null), in the fixed order: the
  // numbers and flags, then the texts, then the lists.
  void Load(HKEY machineKey, HKEY userKey);
};

}  // namespace Velmora::PKI::TSP::Client
