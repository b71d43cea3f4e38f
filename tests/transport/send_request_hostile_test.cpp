// SendRequest against peers that misbehave below and around HTTP (horodex-testtsa --hostile):
// each ends with its WinHTTP number within the time-outs, without the process's memory growing
// with what the peer sends, and the same settings then reach a good TSA.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/hostile_modes.h"
#include "tests/common/process_stats.h"
#include "tests/common/testtsa_process.h"
#include "tests/transport/transport_test_util.h"

namespace Velmora::Testing {
namespace {

using PKI::CHttpSettings;
using PKI::SendRequest;

TEST(SendRequestHostile, EachMisbehaviourEndsWithItsCodeAndTheSettingsStayUsable) {
  ClearProxyEnvironment();
  const TestTsaProcess good;
  constexpr int kTimeoutMs = 1000;
  // A body larger than the socket buffers, so that a peer that never reads stalls the send.
  const CBlob large(8u << 20);
  for (const HostileMode& c : kHostileModes) {
    SCOPED_TRACE(c.mode);
    TestTsaOptions options;
    options.tls = c.tls;
    options.extraArguments = {"--hostile", c.mode};
    const TestTsaProcess hostile(options);
    CHttpSettings settings = FastSettings(hostile.WideUrl("/tsa"));
    settings.timeouts = {kTimeoutMs, kTimeoutMs, kTimeoutMs};
    settings.extraCaFile = hostile.File("ca.pem").wstring();
    if (c.digest) {
      settings.serverAuthScheme = Platform::WINHTTP_AUTH_SCHEME_DIGEST;
      settings.serverUserName = L"user";
      settings.serverPassword = L"secret";
    }
    const std::size_t peakBefore = PeakResidentKiB();
    CBlob reply;
    Platform::HRESULT thrown = 0;
    const auto took = Timed([&] {
      thrown = ThrownBy([&] {
        reply = SendRequest(settings, kQueryHeader, c.largeBody ? large : TimeStampQuery(), false);
      });
    });
    EXPECT_EQ(thrown, c.code == 0 ? 0 : WinHttpHResult(c.code));
    EXPECT_EQ(reply.cbData(), c.replyLength);
    EXPECT_LT(took.count(), 3 * kTimeoutMs + 1000);
    EXPECT_LT(PeakResidentKiB() - peakBefore, 48u * 1024);
    // The same settings, first on the same connection where one is kept, then at a good TSA.
    if (c.code == 0) {
      EXPECT_EQ(Post(settings).cbData(), c.replyLength);
    }
    settings.url = good.WideUrl("/after");
    EXPECT_FALSE(Post(settings).empty());
    EXPECT_EQ(settings.httpStatus, 200u);
  }
}

}  // namespace
}  // namespace Velmora::Testing
