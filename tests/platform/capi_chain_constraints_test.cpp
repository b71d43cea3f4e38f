// Path length and certificate policies of chains made at test time, judged by the time-stamping
// policy and by `openssl verify` on the same certificates.
#include <gtest/gtest.h>

#include "platform/capi/wincrypt.h"
#include "platform/errors/winerror.h"
#include "tests/common/chain_check.h"

namespace P = Velmora::Platform;
using namespace Velmora::Testing;

namespace {

std::vector<Extension> With(std::vector<Extension> base, const std::vector<Extension>& more) {
  base.insert(base.end(), more.begin(), more.end());
  return base;
}

TEST(ChainConstraints, AnExplicitPolicyRequirementThePathCannotMeetIsRefused) {
  const Authority root = MakeRoot("Policy Root");
  const InstalledRoot installed(root.cert);
  const Extension anyPolicy{"certificatePolicies", "2.5.29.32.0"};
  const Extension policy1{"certificatePolicies", "1.2.3.1"};
  const auto require = [](const char* value) { return Extension{"policyConstraints", value}; };
  struct Case {
    std::vector<Extension> ca, tsa;
    bool accepted;    // as the certificates stand
    bool explicitly;  // when an explicit policy is required from the start
  } const cases[] = {
      {{policy1}, {policy1}, true, true},
      {{policy1}, {{"certificatePolicies", "1.2.3.2"}}, true, false},
      {{policy1, require("critical,requireExplicitPolicy:0")},
       {{"certificatePolicies", "1.2.3.2"}},
       false,
       false},
      {{anyPolicy, require("critical,requireExplicitPolicy:0")},
       {{"certificatePolicies", "1.2.3.9"}},
       true,
       true},
      // inhibitAnyPolicy 0 stops the TSA's anyPolicy counting; 1 lets it count.
      {{anyPolicy, require("requireExplicitPolicy:0"), {"inhibitAnyPolicy", "0"}},
       {anyPolicy},
       false,
       false},
      {{anyPolicy, {"inhibitAnyPolicy", "0"}}, {anyPolicy}, true, false},
      {{anyPolicy, require("requireExplicitPolicy:0"), {"inhibitAnyPolicy", "1"}},
       {anyPolicy},
       true,
       true},
      // requireExplicitPolicy counts the certificates after the CA: 1 reaches the TSA, 2 not.
      {{policy1, require("requireExplicitPolicy:1")}, {}, false, false},
      {{policy1, require("requireExplicitPolicy:2")}, {}, true, false},
      // A mapped policy is expected under its new name only.
      {{policy1, {"policyMappings", "1.2.3.1:1.2.3.5"}, require("requireExplicitPolicy:0")},
       {{"certificatePolicies", "1.2.3.5"}},
       true,
       true},
      {{policy1, {"policyMappings", "1.2.3.1:1.2.3.5"}, require("requireExplicitPolicy:0")},
       {policy1},
       false,
       false},
      {{policy1, require("DER:30:00")}, {policy1}, false, false},  // an empty policyConstraints
  };
  const std::string policyCheck = "-policy_check -policy 2.5.29.32.0";  // initial set: anyPolicy
  long serial = 10;
  for (const Case& c : cases) {
    const Authority ca = MakeIssued(CertSpec{"Policy CA", ++serial, std::time(nullptr) - 3600,
                                             std::time(nullptr) + 3600, With(CaExtensions(), c.ca)},
                                    root);
    const auto tsa = [&](const std::vector<Extension>& more) {
      return TestCert(CertSpec{"Policy TSA", ++serial, std::time(nullptr) - 3600,
                               std::time(nullptr) + 3600, With(TsaExtensions(), more)},
                      NewKey().get(), &ca.cert, ca.key.get());
    };
    const TestCert plain = tsa(c.tsa);
    // A TSA that itself requires an explicit policy from here on asks what the RFC's
    // initial-explicit-policy asks.
    const TestCert strict = tsa(With(c.tsa, {require("requireExplicitPolicy:0")}));
    const auto invalidPolicy = static_cast<P::DWORD>(P::CERT_E_INVALID_POLICY);
    const std::size_t row = &c - cases;
    EXPECT_EQ(installed.judge(plain, {&ca.cert}).error, c.accepted ? 0u : invalidPolicy) << row;
    EXPECT_EQ(installed.judge(strict, {&ca.cert}).error, c.explicitly ? 0u : invalidPolicy) << row;
    EXPECT_EQ(installed.opensslAccepts(plain, {&ca.cert}, policyCheck), c.accepted) << row;
    EXPECT_EQ(installed.opensslAccepts(plain, {&ca.cert}, policyCheck + " -explicit_policy"),
              c.explicitly)
        << row;
  }
}

}  // namespace
