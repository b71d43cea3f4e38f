// An application's use of the library: 8 threads, each with its own request, stamp 200 files at
// one test TSA; every stamp is verified by Send and carries the hash of its own file.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "horodex/TSPRequest.h"
#include "platform/errors/atl_exception.h"
#include "tests/common/hive_env.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"

namespace P = Velmora::Platform;
namespace T = Velmora::Testing;
using Velmora::CBlob;
using Velmora::PKI::TSP::Client::CRequest;
using Velmora::PKI::TSP::Client::CStamp;

namespace {

constexpr int kThreads = 8;
constexpr int kFiles = 200;
constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";

TEST(SendThreads, EightThreadsStampTwoHundredFiles) {
  T::ConfigEnvironment env;
  T::TempDir data;
  setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  T::TestTsaProcess tsa;
  const std::filesystem::path roots = data.path() / "velmora/certstores/Root";
  std::filesystem::create_directories(roots);
  std::filesystem::copy_file(tsa.File("ca.pem"), roots / "test-tsa-ca.pem");

  std::vector<std::filesystem::path> files;
  for (int i = 0; i < kFiles; ++i) {
    std::vector<unsigned char> bytes(1000 + static_cast<std::size_t>(i) * 37);
    for (std::size_t j = 0; j < bytes.size(); ++j) {
      bytes[j] = static_cast<unsigned char>(j * 31 + static_cast<std::size_t>(i));
    }
    files.push_back(data / ("file" + std::to_string(i)));
    T::WriteFileBytes(files.back(), bytes);
  }

  std::vector<std::string> failures(kFiles);
  std::atomic<int> verified{0};
  const std::wstring url = tsa.WideUrl("/");
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CRequest request;
      request.put_DataHashAlg(kSha256);
      request.put_CertReq(true);
      request.put_TSAAddress(url.c_str());
      for (int i = t; i < kFiles; i += kThreads) {
        try {
          const std::vector<unsigned char> bytes =
              T::ReadFileBytes(files[static_cast<std::size_t>(i)]);
          request.ResetData();
          request.AddData(bytes.data(), static_cast<unsigned long>(bytes.size()));
          const CStamp& stamp = request.Send(true);
          unsigned long length = 0;
          stamp.get_DataHash(nullptr, &length);
          CBlob hash(length);
          stamp.get_DataHash(hash.pbData(), &length);
          if (hash != T::DigestOf(kSha256, CBlob(bytes.data(), bytes.size()))) {
            failures[static_cast<std::size_t>(i)] = "the stamp is not for this file";
          } else {
            ++verified;
          }
        } catch (const P::CAtlException& e) {
          failures[static_cast<std::size_t>(i)] = "Send failed: " + std::to_string(e.hr());
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  unsetenv("XDG_DATA_HOME");
  for (int i = 0; i < kFiles; ++i) {
    EXPECT_EQ(failures[static_cast<std::size_t>(i)], "") << "file " << i;
  }
  EXPECT_EQ(verified.load(), kFiles);
  EXPECT_EQ(tsa.Requests().size(), static_cast<std::size_t>(kFiles));
}

}  // namespace
