// What the exchange writes to the diagnostic trace: the client-certificate line for https only,
// and never a credential. Also the default ports: an https URL without a port goes to 443.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "support/trace_internal.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"
#include "tests/transport/transport_test_util.h"

namespace Velmora::Testing {
namespace {

using PKI::CHttpSettings;
using PKI::SendRequest;

TEST(SendRequestDefaultPort, HttpsWithoutPortGoesTo443) {
  ClearProxyEnvironment();
  TestTsaOptions options;
  options.tls = true;
  options.extraArguments = {"--port", "443"};
  std::unique_ptr<TestTsaProcess> tsa;
  try {
    tsa = std::make_unique<TestTsaProcess>(options);
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "port 443 of 127.0.0.1 cannot be bound here (not root, or taken)";
  }
  CHttpSettings settings = FastSettings(L"https://127.0.0.1/tsp");
  settings.extraCaFile = tsa->File("ca.pem").wstring();
  EXPECT_FALSE(Post(settings).empty());
  EXPECT_EQ(settings.httpStatus, 200u);
  EXPECT_EQ(tsa->RequestsTo("/tsp").size(), 1u);
}

}  // namespace
}  // namespace Velmora::Testing
