// GetMSStamp against the test TSA's Authenticode mode: the request it posts (structure and
// Base64 line layout, read back from the server's log), the signed reply it hands over, the
// policy rules that stop it before anything is sent, and every way the exchange can fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "horodex/MSTimeStamp.h"
#include "platform/capi/wincrypt_encode.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "tests/common/hive_env.h"
#include "tests/common/testtsa_process.h"
#include "tests/transport/transport_test_util.h"

namespace P = Velmora::Platform;
using Velmora::Testing::ConfigEnvironment;
using Velmora::Testing::LoggedRequest;
using Velmora::Testing::TestTsaProcess;

namespace {

constexpr P::DWORD kHttpError = 0xC2100100;

struct StampFree {
  void operator()(P::CRYPT_DATA_BLOB* blob) const noexcept { FreeMSStamp(blob); }
};
using StampPtr = std::unique_ptr<P::CRYPT_DATA_BLOB, StampFree>;

class MsStampTest : public Velmora::Testing::TestTsaSuite {
 protected:
  void SetUp() override { Velmora::Testing::ClearProxyEnvironment(); }

  void Policies(const std::string& values) { env.MachinePolicies(values); }

  // GetMSStamp of `content`; the last error is kept in `error`.
  StampPtr Stamp(const std::string& content, const wchar_t* url,
                 const P::CRYPT_ATTRIBUTES* attributes = nullptr) {
    P::CRYPT_DATA_BLOB blob{static_cast<P::DWORD>(content.size()),
                            reinterpret_cast<P::BYTE*>(const_cast<char*>(content.data()))};
    P::SetLastError(0);
    StampPtr stamp(GetMSStamp(&blob, url, attributes));
    error = P::GetLastError();
    return stamp;
  }

  // The Authenticode lines the server logged for `target`.
  static std::vector<LoggedRequest> Logged(const std::string& target) {
    std::vector<LoggedRequest> out;
    for (LoggedRequest& line : tsa->Requests()) {
      if (line["authenticode"] == target) {
        out.push_back(std::move(line));
      }
    }
    return out;
  }

  ConfigEnvironment env;
  P::DWORD error = 0;
};

TEST_F(MsStampTest, RequestCarriesTheCallersAttributesSorted) {
  P::BYTE second[] = {0x04, 0x01, 0x02};
  P::BYTE first[] = {0x02, 0x01, 0x05};
  P::CRYPT_ATTR_BLOB values[] = {{3, second}, {3, first}};
  char oid[] = "1.2.3.4";
  P::CRYPT_ATTRIBUTE attribute{oid, 2, values};
  P::CRYPT_ATTRIBUTES attributes{1, &attribute};
  StampPtr stamp = Stamp("x", tsa->WideUrl("/authenticode/attributes").c_str(), &attributes);
  ASSERT_NE(stamp, nullptr) << std::hex << error;
  const std::vector<LoggedRequest> logged = Logged("/authenticode/attributes");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].at("structure"),
            "SEQ{OID:1.3.6.1.4.1.311.3.2.1,SET{SEQ{OID:1.2.3.4,SET{T2:05,OCTETS:02}}},"
            "SEQ{OID:1.2.840.113549.1.7.1,[0]{OCTETS:78}}}");

  // A malformed attribute stops the request in the encoder, before anything is sent.
  char badOid[] = "not an oid";
  P::CRYPT_ATTRIBUTE bad{badOid, 0, nullptr};
  P::CRYPT_ATTRIBUTES badList{1, &bad};
  EXPECT_EQ(Stamp("x", tsa->WideUrl("/authenticode/bad-attribute").c_str(), &badList), nullptr);
  EXPECT_EQ(error, 0x80091003u);  // CRYPT_E_OID_FORMAT
  EXPECT_TRUE(Logged("/authenticode/bad-attribute").empty());
}

TEST_F(MsStampTest, AllowedListIsExactAndStopsTheRequestBeforeSending) {
  const std::wstring url = tsa->WideUrl("/authenticode/policy");
  std::string upper(url.begin(), url.end());
  upper.replace(upper.find("authenticode"), 12, "AUTHENTICODE");
  Policies(
      "\"MSTSAsAllowedSetted\"=dword:00000001\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP\\AllowedMSTSPs]\n"
      "\"1\"=\"" +
      upper + "\"\n");
  EXPECT_EQ(Stamp("x", url.c_str()), nullptr);
  EXPECT_EQ(error, P::ERROR_ACCESS_DISABLED_BY_POLICY);
  EXPECT_TRUE(Logged("/authenticode/policy").empty());
  EXPECT_TRUE(tsa->RequestsTo("/authenticode/policy").empty());
  // The listed spelling itself passes the policy (and reaches the server).
  const std::wstring listed(upper.begin(), upper.end());
  Stamp("x", listed.c_str());
  EXPECT_EQ(tsa->RequestsTo("/AUTHENTICODE/policy").size(), 1u);
}

TEST_F(MsStampTest, PolicyFailuresBecomeTheLastErrorNotExceptions) {
  // A value of the wrong type.
  Policies("\"DefaultMSTSPURL\"=dword:00000001\n");
  EXPECT_EQ(Stamp("x", nullptr), nullptr);
  EXPECT_EQ(error, 0x8007000Du);
  // A hive that does not parse: the key pair cannot be opened.
  ConfigEnvironment::Write(env.machineHive(), "this is no registry file\n");
  EXPECT_EQ(Stamp("x", tsa->WideUrl("/authenticode/broken-hive").c_str()), nullptr);
  EXPECT_EQ(error, 1009u);  // ERROR_BADDB
  EXPECT_TRUE(Logged("/authenticode/broken-hive").empty());
}

TEST_F(MsStampTest, FailedExchanges) {
  struct Case {
    const char* path;
    P::DWORD error;
  };
  for (const Case& c : {
           Case{"/status/500/", kHttpError}, Case{"/status/404/", kHttpError},
           Case{"/garbage/", P::ERROR_INVALID_DATA},     // 200, not Base64
           Case{"/status/200/", P::ERROR_INVALID_DATA},  // 200, empty body
       }) {
    EXPECT_EQ(Stamp("x", tsa->WideUrl(c.path).c_str()), nullptr) << c.path;
    EXPECT_EQ(error, c.error) << c.path << std::hex << " " << error;
  }
  // Nobody listening.
  EXPECT_EQ(Stamp("x", L"http://127.0.0.1:1/authenticode"), nullptr);
  EXPECT_EQ(error, 0x80072EFDu);  // ERROR_WINHTTP_CANNOT_CONNECT

  P::SetLastError(0);
  EXPECT_EQ(GetMSStamp(nullptr, L"http://127.0.0.1:1/", nullptr), nullptr);
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(FreeMSStamp(nullptr), P::TRUE);
}

}  // namespace
