// libcurl (and libssl, opened with the first TLS context) is mapped only when something is sent:
// horodex show, query and an offline verify run without either, and a process that has imported and
// verified a stamp still stamps at a TSA, the library then opened on the spot.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "tests/common/hive_env.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"
#include "tests/common/tsp_fixtures.h"

namespace T = Velmora::Testing;
using Velmora::CBlob;
using Velmora::PKI::TSP::Client::CRequest;
using Velmora::PKI::TSP::Client::CStamp;

namespace {

bool CurlMapped() {
  std::ifstream maps("/proc/self/maps");
  std::stringstream text;
  text << maps.rdbuf();
  return text.str().find("libcurl") != std::string::npos;
}

std::string Fixture(const std::string& name) {
  return T::ShellQuote((T::OpenSslTsaDir() / name).string());
}

TEST(CurlOnFirstUse, CommandsThatSendNothingNeverLoadIt) {
  T::TempDir out;
  const std::string tool =
      T::ShellQuote(std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex");
  const std::string commands[] = {
      "show " + Fixture("rsa-full.tsr"),
      "verify " + Fixture("rsa-full.tsr") + " --data " + Fixture("data.txt") + " --ca " +
          Fixture("ca.pem"),
      "query " + Fixture("data.txt") + " -o " + T::ShellQuote((out.path() / "q.tsq").string()),
  };
  for (const std::string& command : commands) {
    // The dynamic loader names every library it opens, at start-up and by dlopen alike.
    const T::CommandResult r = T::RunCommand("LD_DEBUG=files " + tool + " " + command + " 2>&1");
    EXPECT_EQ(r.exitCode, 0) << command << "\n" << r.output;
    EXPECT_FALSE(Has(r, "libcurl")) << command;
    EXPECT_FALSE(Has(r, "libssl")) << command;
    EXPECT_TRUE(Has(r, "libhorodex")) << "LD_DEBUG had no effect";
  }
}

TEST(CurlOnFirstUse, AProcessThatHasVerifiedAStampLoadsItToSend) {
  T::ConfigEnvironment env;
  const CBlob der = T::OpenSslTsaFile("rsa-full.tsr");
  CStamp stamp;
  stamp.Import(der.pbData(), der.cbData(), nullptr);
  const Velmora::Platform::CERT_CONTEXT* signer = stamp.get_TSACertificate(nullptr, 0);
  ASSERT_NE(signer, nullptr);
  EXPECT_EQ(stamp.Verify(signer, nullptr), 0);
  stamp.VerifyCertificate(signer, nullptr, 0);  // the chain engine with revocation, trusted or not
  EXPECT_FALSE(CurlMapped());

  T::TestTsaProcess tsa;
  CRequest request;
  const std::string text = "sent after a verification";
  request.AddData(reinterpret_cast<const unsigned char*>(text.data()),
                  static_cast<unsigned long>(text.size()));
  request.put_TSAAddress(tsa.WideUrl("/").c_str());
  EXPECT_EQ(request.Send(false).get_Status(), 0u);
  EXPECT_TRUE(CurlMapped());
}

}  // namespace
