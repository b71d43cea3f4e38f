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

TEST(SendRequestTrace, ClientCertificateLineForHttpsOnlyAndNoCredentials) {
  ClearProxyEnvironment();
  TempDir root;
  std::filesystem::create_directories(root / "etc/velmora");
  const std::filesystem::path log = root / "trace.log";
  {
    std::ofstream ini(root / "etc/velmora/Trace.ini");
    ini << "[Trace]\nlibhorodex.so.1=2\nlibhorodex.so.1.logfile=" << log.string() << "\n";
  }
  setenv("VELMORA_ROOT", root.path().c_str(), 1);
  Support::ReloadTraceConfiguration();

  const TestTsaProcess plain;
  TestTsaOptions tlsOptions;
  tlsOptions.tls = true;
  const TestTsaProcess secure(tlsOptions);

  CHttpSettings settings = FastSettings(plain.WideUrl("/basic/"));
  settings.serverAuthScheme = 1;
  settings.serverUserName = L"tsa-user";
  settings.serverPassword = L"tsa-pass";
  Post(settings);
  EXPECT_EQ(settings.httpStatus, 200u);
  const std::string afterHttp = ReadFileText(log);
  EXPECT_EQ(afterHttp.find("WINHTTP_NO_CLIENT_CERT_CONTEXT"), std::string::npos) << afterHttp;

  settings.url = secure.WideUrl("/basic/");
  settings.extraCaFile = secure.File("ca.pem").wstring();
  Post(settings);
  EXPECT_EQ(settings.httpStatus, 200u);
  const std::string afterHttps = ReadFileText(log);
  EXPECT_NE(afterHttps.find("libhorodex.so.1: WinHttpSetOption(WINHTTP_NO_CLIENT_CERT_CONTEXT) "
                            "succeeded\r\n"),
            std::string::npos)
      << afterHttps;
  EXPECT_EQ(afterHttps.find("tsa-pass"), std::string::npos);
  EXPECT_EQ(afterHttps.find("dHNhLXVzZXI6dHNhLXBhc3M="), std::string::npos);  // Basic's value

  unsetenv("VELMORA_ROOT");
  Support::ReloadTraceConfiguration();
}

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
