// The responses the decoding and import benchmarks share: real TSAs' tokens from the interop
// corpus (SSL.com 2021 with its chain of three, Apple Timestamp Signer MA2 with three), each
// wrapped in a granted TimeStampResp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/der/der_writer.h"

namespace BenchCorpus {

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(2);
  }
  return {std::istreambuf_iterator<char>(file), {}};
}

// TimeStampResp ::= SEQUENCE { status PKIStatusInfo (granted), timeStampToken }
inline std::vector<std::uint8_t> GrantedResponse(const std::string& tokenFile) {
  const std::vector<std::uint8_t> token =
      ReadFile(std::string(HORODEX_INTEROP_DIR) + "/" + tokenFile);
  Velmora::ASN1::Der::Writer w;
  w.sequence([&](Velmora::ASN1::Der::Writer& resp) {
    resp.sequence([](Velmora::ASN1::Der::Writer& status) { status.integer(std::uint64_t{0}); });
    resp.raw(token);
  });
  return w.take();
}

// 0: SSL.com 2021 (RSA-3072, 3 certificates); 1: Apple Timestamp Signer MA2 (3 certificates).
inline const std::vector<std::uint8_t>& Response(int which) {
  static const std::vector<std::uint8_t> sslcom =
      GrantedResponse("rust-openssl/sslcom-2021-negnonce.tst");
  static const std::vector<std::uint8_t> apple =
      GrantedResponse("signapple/apple-timestamp-signer-ma2.tst");
  return which == 0 ? sslcom : apple;
}

}  // namespace BenchCorpus
