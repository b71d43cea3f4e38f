// SendRequest against peers that misbehave below and around HTTP (horodex-testtsa --hostile):
// each ends with its WinHTTP number within the time-outs, without the process's memory growing
// with what the peer sends, and the same settings then reach a good TSA.
#include <gtest/gtest.h>

#include <string>

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
  const struct {
    const char* mode;
    bool tls;
    unsigned code;            // 0: a reply
    std::size_t replyLength;  // of that reply
  } cases[] = {
      {"tls-stall", true, 12002, 0},   // the connect time-out covers the handshake
      {"wrong-host", true, 12175, 0},  // every TLS server certificate fault is a secure failure
      {"expired", true, 12175, 0},
      {"self-signed", true, 12175, 0},
      {"tls10", true, 12175, 0},  // TLS below 1.2 is never spoken
      {"endless-headers", false, 12182, 0},
      {"long-header", false, 12182, 0},
      {"length-over", false, 12030, 0},  // a body cut short is never a shorter reply
      {"length-under", false, 0, 100},   // the bytes beyond the length are not the next reply
      {"bad-chunk", false, 12152, 0},
      {"status-only", false, 12030, 0},
      {"gzip-bomb", false, 12152, 0},  // a coding we never asked for is refused, not inflated
      {"continue-100", false, 0, 0},   // interim replies are passed over
      {"deaf", false, 12002, 0},       // a body it never reads: the send time-out
  };
  constexpr int kTimeoutMs = 1000;
  // A body larger than the socket buffers, so that a peer that never reads stalls the send.
  const CBlob large(8u << 20);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    TestTsaOptions options;
    options.tls = c.tls;
    options.extraArguments = {"--hostile", c.mode};
    const TestTsaProcess hostile(options);
    CHttpSettings settings = FastSettings(hostile.WideUrl("/tsa"));
    settings.timeouts = {kTimeoutMs, kTimeoutMs, kTimeoutMs};
    settings.extraCaFile = hostile.File("ca.pem").wstring();
    const std::size_t peakBefore = PeakResidentKiB();
    CBlob reply;
    Platform::HRESULT thrown = 0;
    const auto took = Timed([&] {
      thrown = ThrownBy([&] {
        reply = SendRequest(settings, kQueryHeader,
                            std::string(c.mode) == "deaf" ? large : TimeStampQuery(), false);
      });
    });
    EXPECT_EQ(thrown, c.code == 0 ? 0 : WinHttpHResult(c.code));
    EXPECT_EQ(reply.cbData(), c.replyLength);
    EXPECT_LT(took.count(), 3 * kTimeoutMs + 1000);
    EXPECT_LT(PeakResidentKiB() - peakBefore, 48u * 1024);
    // The same settings, first on the same connection where one is kept, then at a good TSA.
    if (c.code == 0) {
      EXPECT_EQ(SendRequest(settings, kQueryHeader, TimeStampQuery(), false).cbData(),
                c.replyLength);
    }
    settings.url = good.WideUrl("/after");
    EXPECT_FALSE(SendRequest(settings, kQueryHeader, TimeStampQuery(), false).empty());
    EXPECT_EQ(settings.httpStatus, 200u);
  }
}

}  // namespace
}  // namespace Velmora::Testing
