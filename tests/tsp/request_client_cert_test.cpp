// The client certificate of a request, bound to its private key through a real "My" folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "horodex/TSPRequest.h"
#include "platform/capi/wincrypt.h"
#include "platform/errors/winerror.h"
#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"

namespace P = Velmora::Platform;
namespace T = Velmora::Testing;
namespace fs = std::filesystem;
using Velmora::PKI::TSP::Client::CloneCertificateWithProperties;
using Velmora::PKI::TSP::Client::CRequest;

namespace {

using T::ContextPtr;

T::ContextPtr FromFile(const std::string& name) {
  return T::ContextOf(T::OpenSslTsaFile(name));
}

// The key file the context's key provider information names; empty when it has none.
std::wstring KeyContainer(P::PCCERT_CONTEXT context) {
  P::DWORD size = 0;
  if (!P::CertGetCertificateContextProperty(context, P::CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                            &size)) {
    return {};
  }
  std::vector<std::uintptr_t> buffer(size / sizeof(std::uintptr_t) + 1);
  P::CertGetCertificateContextProperty(context, P::CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                       &size);
  return reinterpret_cast<const P::CRYPT_KEY_PROV_INFO*>(buffer.data())->pwszContainerName;
}

class ClientCertTest : public ::testing::Test {
 protected:
  T::ConfigEnvironment env;
  T::TempDir data;
  fs::path my = data.path() / "velmora/certstores/My";
  std::string savedDataHome;

  void SetUp() override {
    if (const char* value = std::getenv("XDG_DATA_HOME")) {
      savedDataHome = value;
    }
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    fs::create_directories(my);
    // The RSA certificate in PEM with its key beside it, the EC one in DER without key, and a
    // file that holds no certificate at all.
    fs::copy_file(T::OpenSslTsaDir() / "rsa.pem", my / "client.pem");
    fs::copy_file(T::OpenSslTsaDir() / "rsa.key", my / "client.key");
    fs::copy_file(T::OpenSslTsaDir() / "ec.der", my / "other.cer");
    T::WriteFileBytes(my / "notes.txt", {'h', 'i'});
  }
  void TearDown() override {
    if (savedDataHome.empty()) {
      unsetenv("XDG_DATA_HOME");
    } else {
      setenv("XDG_DATA_HOME", savedDataHome.c_str(), 1);
    }
  }
};

TEST_F(ClientCertTest, CertificateFromFileIsBoundToItsKeyInMy) {
  CRequest request;
  const ContextPtr mine = FromFile("rsa.der");
  request.put_ClientCertificate(mine.get());
  const P::PCCERT_CONTEXT held = request.get_ClientCertificate();
  ASSERT_NE(held, nullptr);
  EXPECT_NE(held, mine.get());
  ASSERT_EQ(held->cbCertEncoded, mine->cbCertEncoded);
  EXPECT_EQ(0, std::memcmp(held->pbCertEncoded, mine->pbCertEncoded, held->cbCertEncoded));
  EXPECT_EQ(fs::path(KeyContainer(held)), my / "client.key");
  EXPECT_TRUE(KeyContainer(mine.get()).empty());  // the caller's context is left alone

  // A copy of the request holds its own reference to the same bound certificate.
  const CRequest copy(request);
  EXPECT_EQ(fs::path(KeyContainer(copy.get_ClientCertificate())), my / "client.key");

  request.put_ClientCertificate(nullptr);
  EXPECT_EQ(request.get_ClientCertificate(), nullptr);
  EXPECT_NE(copy.get_ClientCertificate(), nullptr);
}

TEST_F(ClientCertTest, CertificatesUsedAsGiven) {
  CRequest request;
  // Found in "My" but without a key there, and not in any store: the caller's context stands.
  for (const char* name : {"ec.der", "pss.der"}) {
    const ContextPtr given = FromFile(name);
    request.put_ClientCertificate(given.get());
    EXPECT_EQ(request.get_ClientCertificate(), given.get()) << name;
    EXPECT_TRUE(KeyContainer(request.get_ClientCertificate()).empty()) << name;
  }
  // Already bound to a key: kept, and the store is not consulted (its copy would name another
  // key file).
  const ContextPtr bound = FromFile("rsa.der");
  std::wstring path = L"/somewhere/else.key";
  P::CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = path.data();
  ASSERT_TRUE(
      P::CertSetCertificateContextProperty(bound.get(), P::CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  request.put_ClientCertificate(bound.get());
  EXPECT_EQ(request.get_ClientCertificate(), bound.get());
  EXPECT_EQ(KeyContainer(request.get_ClientCertificate()), path);
}

TEST_F(ClientCertTest, CloneCopiesPropertiesButNotWorkedOutOnes) {
  P::PCCERT_CONTEXT context = FromFile("rsa.der").release();
  const std::string name = "friendly";
  const P::CRYPT_DATA_BLOB friendly{static_cast<P::DWORD>(name.size()),
                                    reinterpret_cast<P::BYTE*>(const_cast<char*>(name.data()))};
  P::CertSetCertificateContextProperty(context, P::CERT_FRIENDLY_NAME_PROP_ID, 0, &friendly);
  P::DWORD size = 0;
  P::CertGetCertificateContextProperty(context, P::CERT_SHA1_HASH_PROP_ID, nullptr, &size);
  const P::PCCERT_CONTEXT original = context;
  ASSERT_EQ(CloneCertificateWithProperties(&context), P::S_OK);
  const ContextPtr clone(context);
  EXPECT_NE(context, original);
  std::vector<P::DWORD> ids;
  for (P::DWORD id = P::CertEnumCertificateContextProperties(context, 0); id != 0;
       id = P::CertEnumCertificateContextProperties(context, id)) {
    ids.push_back(id);
  }
  EXPECT_EQ(ids, std::vector<P::DWORD>{P::CERT_FRIENDLY_NAME_PROP_ID});

  P::PCCERT_CONTEXT none = nullptr;
  EXPECT_EQ(CloneCertificateWithProperties(&none), P::E_FAIL);
}

}  // namespace
