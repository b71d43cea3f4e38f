// Revocation fetched from responders that misbehave: an OCSP responder that answers HTML,
// redirects, sends more than 16 MiB, trickles, answers an OCSP status other than successful, or
// replays a kept answer without the nonce asked for. Each gives its own code as the element's
// first source error, within the fetch time-out; the certificate's CRL distribution point, the
// next source, then answers; and nothing of the bad answer is cached. A request carries a nonce
// only when asked to.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/winerror.h"
#include "tests/common/file_http_server.h"
#include "tests/common/scratch.h"
#include "tests/common/test_ca.h"

namespace P = Velmora::Platform;
using namespace Velmora::Testing;

namespace {

const std::time_t kNow = std::time(nullptr);

struct Case {
  const char* name;
  FileHttpServer::Reply reply;  // an empty 200 reply: a good OCSP response for the certificate
  P::DWORD firstError;          // 0: the OCSP responder answers
  bool nonce = false;           // asked for (REVOCATION_DATA_OCSP_NONCE)
};

std::vector<unsigned char> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

TEST(RevocationFetch, AHostileResponderGivesItsCodeAndTheNextSourceAnswers) {
  const Case cases[] = {
      {"HTML body",
       {"200 OK", "Content-Type: text/html\r\n", Bytes("<html><body>Sorry</body></html>"), false},
       static_cast<P::DWORD>(P::CRYPT_E_ASN1_ERROR)},
      {"redirect",
       {"302 Found", "Location: /elsewhere\r\n", {}, false},
       P::ERROR_WINHTTP_REDIRECT_FAILED},
      {"over 16 MiB",
       {"200 OK", "", std::vector<unsigned char>((16u << 20) + 1, 0x30), false},
       P::ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW},
      {"OCSP status tryLater",
       {"200 OK", "", {0x30, 0x03, 0x0A, 0x01, 0x03}, false},
       static_cast<P::DWORD>(P::CRYPT_E_REVOCATION_OFFLINE)},
      {"server error",
       {"500 Internal Server Error", "", {}, false},
       P::ERROR_WINHTTP_INVALID_SERVER_RESPONSE},
      {"trickle",
       {"200 OK", "", std::vector<unsigned char>(4096, 0x30), true},
       P::ERROR_WINHTTP_TIMEOUT},
      {"kept answer, no nonce asked", {}, 0},
      {"kept answer, nonce asked", {}, static_cast<P::DWORD>(P::NTE_BAD_DATA), true},
  };
  const TempDir dir;
  setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  FileHttpServer server;
  const Authority root = MakeRoot("Hostile Responder Root");
  root.cert.writePem(dir / "root.pem");
  ASSERT_EQ(P::CertAddTrustedRootsFromFile((dir / "root.pem").c_str()), P::S_OK);
  server.serve("/root.crl", MakeCrlDer(root, {}, kNow - 3600, kNow + 3600));

  long serial = 500;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/ocsp" + std::to_string(serial);
    std::vector<Extension> extensions = TsaExtensions();
    extensions.push_back({"authorityInfoAccess", "OCSP;URI:" + server.url(path)});
    extensions.push_back({"crlDistributionPoints", "URI:" + server.url("/root.crl")});
    const Authority tsa = MakeIssued(
        CertSpec("Hostile " + std::to_string(serial), serial, kNow - 3600, kNow + 3600, extensions),
        root);
    ++serial;
    FileHttpServer::Reply reply = c.reply;
    if (reply.body.empty() && reply.status == "200 OK") {
      reply.body =
          TestPki::GoodOcspResponse(tsa.cert.x509(), root.cert.x509(), root.key.get(), 3600);
    }
    server.serve(path, reply);
    std::filesystem::remove_all(dir / "cache");
    const P::REVOCATION_DATA_BLOBS flags{
        0, nullptr, 0, nullptr, nullptr, c.nonce ? P::REVOCATION_DATA_OCSP_NONCE : 0};
    const ContextPtr context = tsa.cert.context();
    P::CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.pRevocationData = &flags;
    const P::CERT_CHAIN_CONTEXT* raw = nullptr;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(P::CertGetCertificateChain(nullptr, context.get(), nullptr, nullptr, &para,
                                           P::CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT,
                                           nullptr, &raw));
    const std::unique_ptr<const P::CERT_CHAIN_CONTEXT, P::FreeWith<P::CertFreeCertificateChain>>
        chain(raw);
    EXPECT_LT(std::chrono::steady_clock::now() - started,
              std::chrono::seconds(12));  // the fetch's 10 s and some slack
    const P::CERT_REVOCATION_INFO* info = chain->rgpChain[0]->rgpElement[0]->pRevocationInfo;
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->dwFirstSourceError, c.firstError);
    EXPECT_EQ(info->dwRevocationResult, 0u);
    EXPECT_EQ(info->dwSource, P::DWORD{P::REVOCATION_SOURCE_NETWORK});
    const bool ocsp = c.firstError == 0;
    EXPECT_EQ(info->dwKind, P::DWORD{ocsp ? P::REVOCATION_KIND_OCSP : P::REVOCATION_KIND_CRL});
    // Only the answer that counted was kept.
    std::size_t cached = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(dir / "cache" / "velmora" / "revocation")) {
      EXPECT_EQ(ReadFileBytes(entry.path()), ocsp ? reply.body : *server.body("/root.crl"));
      ++cached;
    }
    EXPECT_EQ(cached, 1u);
    // id-pkix-ocsp-nonce in the request only when asked for.
    const std::string nonceOid("\x2B\x06\x01\x05\x05\x07\x30\x01\x02", 9);
    EXPECT_EQ(server.lastRequest(path).find(nonceOid) != std::string::npos, c.nonce);
  }
}

}  // namespace
