// libcurl (and libssl, opened with the first TLS context) is mapped only when something is sent:
// horodex show, query and an offline verify run without either.
#include <gtest/gtest.h>

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

}  // namespace
