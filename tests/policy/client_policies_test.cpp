// The client policy set: defaults, values from either scope, the documented sample, and the
// failures that stop a request from starting.
#include <gtest/gtest.h>

#include <string>

#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "policy/ClientPolicies.h"
#include "policy/RevocationPolicies.h"
#include "support/trace_internal.h"
#include "tests/common/der_build.h"
#include "tests/common/hive_env.h"

namespace P = Velmora::Platform;
using Velmora::PKI::TSP::Client::CClientPolicies;
using Velmora::Testing::ConfigEnvironment;
using Velmora::Testing::RegeditBytes;
using Velmora::Testing::DerBuild::CodeOf;

namespace {

// The first ```reg block of docs/policies.md.
std::string DocumentedSample() {
  const std::string doc =
      Velmora::Testing::ReadFileText(std::string(HORODEX_SOURCE_DIR) + "/docs/policies.md");
  const std::size_t start = doc.find("```reg\n");
  const std::size_t end = doc.find("```", start + 7);
  return doc.substr(start + 7, end - start - 7);
}

}  // namespace

TEST(ClientPolicies, DocumentedSampleSavedByTheRegistryEditor) {
  ConfigEnvironment env;
  ConfigEnvironment::WriteBytes(env.machineHive(), RegeditBytes(DocumentedSample()));
  CClientPolicies policies;
  policies.Load();
  EXPECT_EQ(policies.DefaultTSPURL.str(), L"https://tsa.example.org/tsp");
  EXPECT_EQ(policies.DefaultHashAlg.str(), L"2.16.840.1.101.3.4.2.1 SHA-256");
  EXPECT_EQ(static_cast<P::DWORD>(policies.NonceLength), 16u);
  EXPECT_EQ(static_cast<P::DWORD>(policies.StampAccuracy), 60000u);
  EXPECT_EQ(static_cast<P::DWORD>(policies.ProxyAuthTypeDefault), 16u);
  EXPECT_TRUE(policies.RequireNonce);
  EXPECT_TRUE(policies.AuthSSLDenyAnonym);
  EXPECT_TRUE(policies.AuthDenyBasic);
  EXPECT_FALSE(policies.AuthDenyDigest);
  EXPECT_EQ(policies.HashAlgsAllowed.entries(),
            (Velmora::PKI::CGPStrings::Entries{L"2.16.840.1.101.3.4.2.1", L"2.16.840.1.101.3.4.2.2",
                                               L"2.16.840.1.101.3.4.2.3"}));
  EXPECT_TRUE(policies.AllowedTSPs.contains(L"https://backup-tsa.example.org/tsp"));
  EXPECT_FALSE(policies.HashAlgsDenied.IsSet());
}

TEST(ClientPolicies, WrongTypeOrBrokenHiveStopsTheLoad) {
  ConfigEnvironment env;
  env.MachinePolicies(
      "\"StampAccuracy\"=dword:1000\n"
      "\"RequireNonce\"=\"1\"\n");
  env.UserPolicies("\"RequireNonce\"=dword:1\n");
  CClientPolicies policies;
  EXPECT_EQ(CodeOf([&] { policies.Load(); }), P::MakeHResult(0x8007000D));
  EXPECT_EQ(static_cast<P::DWORD>(policies.StampAccuracy), 0x1000u);  // read before the failure

  // A broken user file stops the load too, and the trace says where.
  env.MachinePolicies("");
  env.UserPolicies(
      "\"RequireNonce\"=dword:1\n"
      "\"NonceLength\"=dword:1x\n");
  ConfigEnvironment::Write(env.commonIni(), "[Trace]\nlibhorodex.so.1=1\n");
  std::string trace;
  {
    const Velmora::Testing::StderrCapture capture;
    Velmora::Support::ReloadTraceConfiguration();
    EXPECT_EQ(CodeOf([&] { policies.Load(); }), P::MakeHResult(0x800703F1));
    trace = capture.text();
  }
  std::filesystem::remove(env.commonIni());
  Velmora::Support::ReloadTraceConfiguration();
  EXPECT_EQ(trace,
            "libhorodex.so.1: Opening policy key "
            "HKEY_CURRENT_USER\\Software\\Policies\\Velmora\\TSP failed (0x000003F1): " +
                env.userHive().string() + ", line 4: a dword that is not 1 to 8 hex digits\n");
}

TEST(ClientPolicies, RevocationValuesDefaultOffAndTakeEitherScope) {
  ConfigEnvironment env;
  Velmora::PKI::TSP::Client::CRevocationPolicies revocation;
  revocation.Load();
  EXPECT_FALSE(revocation.RequireRevocationCheck);
  EXPECT_FALSE(revocation.DisableRevocationNetwork);
  env.MachinePolicies("\"RequireRevocationCheck\"=dword:1\n");
  env.UserPolicies("\"DisableRevocationNetwork\"=dword:1\n");
  revocation.Load();
  EXPECT_TRUE(revocation.RequireRevocationCheck);
  EXPECT_TRUE(revocation.DisableRevocationNetwork);
}
