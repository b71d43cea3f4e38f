// Hashing 256 MiB in pieces of 64 KiB through the provider layer (CryptCreateHash, CryptHashData,
// CryptGetHashParam) with SHA-256 and SHA-1, against OpenSSL's EVP_DigestUpdate on the same buffer
// (goal: OpenSSL / ours at least 0.95); the same for 32 MiB with GOST R 34.11-2012 (256 bits,
// through the GOST R 34.10-2012 provider) and GOST R 34.11-94 (through the GOST R 34.10-2001
// provider), against EVP_DigestUpdate of Debian's gostprov itself (skipped where the GOST module is
// not installed); and 8 random bytes (a nonce) from CryptGenRandom against RAND_bytes.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/capi/crypt_hash.h"
#include "platform/capi/crypt_provider.h"
#include "platform/capi/wincrypt_oid.h"
#include "platform/crypto/gost_module.h"

namespace P = Velmora::Platform;

namespace {

constexpr std::size_t kTotal = std::size_t{256} << 20;
constexpr std::size_t kGostTotal = std::size_t{32} << 20;  // GOST hashes run at a tenth of SHA's
constexpr std::size_t kPiece = std::size_t{64} << 10;

const std::vector<unsigned char>& Data() {
  static const std::vector<unsigned char> data = [] {
    std::vector<unsigned char> bytes(kTotal);
    std::uint64_t x = 0x9E3779B97F4A7C15u;  // xorshift: the content does not matter, only its size
    for (std::size_t i = 0; i < kTotal; i += 8) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      std::memcpy(bytes.data() + i, &x, 8);
    }
    return bytes;
  }();
  return data;
}

struct Digest {
  unsigned char bytes[EVP_MAX_MD_SIZE];
  unsigned int size;
};

bool IsGost(P::ALG_ID algid) {
  return algid == P::CALG_GR3411 || algid == P::CALG_GR3411_2012_256;
}

std::size_t TotalFor(P::ALG_ID algid) {
  return IsGost(algid) ? kGostTotal : kTotal;
}

Digest Ours(P::HCRYPTPROV prov, P::ALG_ID algid) {
  const std::vector<unsigned char>& data = Data();
  Digest out{};
  P::HCRYPTHASH hash = 0;
  if (!P::CryptCreateHash(prov, algid, 0, 0, &hash)) {
    return out;
  }
  for (std::size_t at = 0; at < TotalFor(algid); at += kPiece) {
    P::CryptHashData(hash, data.data() + at, kPiece, 0);
  }
  P::DWORD size = sizeof out.bytes;
  if (P::CryptGetHashParam(hash, P::HP_HASHVAL, out.bytes, &size, 0)) {
    out.size = size;
  }
  P::CryptDestroyHash(hash);
  return out;
}

Digest OpenSsl(const EVP_MD* md, std::size_t total) {
  const std::vector<unsigned char>& data = Data();
  Digest out{};
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, md, nullptr);
  for (std::size_t at = 0; at < total; at += kPiece) {
    EVP_DigestUpdate(ctx, data.data() + at, kPiece);
  }
  EVP_DigestFinal_ex(ctx, out.bytes, &out.size);
  EVP_MD_CTX_free(ctx);
  return out;
}

// OpenSSL's digest of the ALG_ID: SHA from the default context, GOST from gostprov in the
// library's context of the GOST module; null when it is not installed.
EVP_MD* FetchReference(P::ALG_ID algid) {
  switch (algid) {
    case P::CALG_SHA_256:
      return EVP_MD_fetch(nullptr, "SHA256", nullptr);
    case P::CALG_SHA1:
      return EVP_MD_fetch(nullptr, "SHA1", nullptr);
    default:
      return P::GostLibraryContext() == nullptr
                 ? nullptr
                 : EVP_MD_fetch(P::GostLibraryContext(),
                                algid == P::CALG_GR3411 ? "md_gost94" : "md_gost12_256", nullptr);
  }
}

P::DWORD ProviderFor(P::ALG_ID algid) {
  switch (algid) {
    case P::CALG_GR3411:
      return P::PROV_GOST_2001_DH;
    case P::CALG_GR3411_2012_256:
      return P::PROV_GOST_2012_256;
    default:
      return P::PROV_RSA_AES;
  }
}

void HashOurs(benchmark::State& state) {
  const auto algid = static_cast<P::ALG_ID>(state.range(0));
  Data();
  EVP_MD* md = FetchReference(algid);
  P::HCRYPTPROV prov = 0;
  if (md == nullptr || !P::CryptAcquireContextW(&prov, nullptr, nullptr, ProviderFor(algid),
                                                P::CRYPT_VERIFYCONTEXT)) {
    EVP_MD_free(md);
    state.SkipWithError("no provider (is Debian's GOST module installed?)");
    return;
  }
  const Digest reference = OpenSsl(md, TotalFor(algid));
  EVP_MD_free(md);
  for (auto _ : state) {
    const Digest d = Ours(prov, algid);
    if (d.size != reference.size || std::memcmp(d.bytes, reference.bytes, d.size) != 0) {
      state.SkipWithError("the value differs from OpenSSL's");
      break;
    }
  }
  P::CryptReleaseContext(prov, 0);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalFor(algid)));
}

void HashOpenSsl(benchmark::State& state) {
  const auto algid = static_cast<P::ALG_ID>(state.range(0));
  Data();
  EVP_MD* md = FetchReference(algid);
  if (md == nullptr) {
    state.SkipWithError("no digest (is Debian's GOST module installed?)");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(OpenSsl(md, TotalFor(algid)));
  }
  EVP_MD_free(md);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalFor(algid)));
}

void RandomOurs(benchmark::State& state) {
  P::HCRYPTPROV prov = 0;
  if (!P::CryptAcquireContextW(&prov, nullptr, nullptr, P::PROV_RSA_FULL, P::CRYPT_VERIFYCONTEXT)) {
    state.SkipWithError("no provider");
    return;
  }
  unsigned char nonce[8];
  for (auto _ : state) {
    if (!P::CryptGenRandom(prov, sizeof nonce, nonce)) {
      state.SkipWithError("CryptGenRandom failed");
      break;
    }
    benchmark::DoNotOptimize(nonce);
  }
  P::CryptReleaseContext(prov, 0);
}

void RandomOpenSsl(benchmark::State& state) {
  unsigned char nonce[8];
  for (auto _ : state) {
    if (RAND_bytes(nonce, sizeof nonce) != 1) {
      state.SkipWithError("RAND_bytes failed");
      break;
    }
    benchmark::DoNotOptimize(nonce);
  }
}

}  // namespace

// Each iteration hashes all 256 MiB; three iterations keep the default run short. Argument:
// the ALG_ID (0x800C SHA-256, 0x8004 SHA-1).
BENCHMARK(HashOurs)
    ->Name("hash_256MiB_64KiB_pieces/ours")
    ->Arg(P::CALG_SHA_256)
    ->Arg(P::CALG_SHA1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(HashOpenSsl)
    ->Name("hash_256MiB_64KiB_pieces/openssl_EVP_DigestUpdate")
    ->Arg(P::CALG_SHA_256)
    ->Arg(P::CALG_SHA1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
// Argument: the ALG_ID (0x8021 GOST R 34.11-2012 256 bits, 0x801E GOST R 34.11-94).
BENCHMARK(HashOurs)
    ->Name("hash_32MiB_64KiB_pieces/ours")
    ->Arg(P::CALG_GR3411_2012_256)
    ->Arg(P::CALG_GR3411)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(HashOpenSsl)
    ->Name("hash_32MiB_64KiB_pieces/openssl_gostprov_EVP_DigestUpdate")
    ->Arg(P::CALG_GR3411_2012_256)
    ->Arg(P::CALG_GR3411)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RandomOurs)->Name("random_8_bytes/ours");
BENCHMARK(RandomOpenSsl)->Name("random_8_bytes/openssl_RAND_bytes");
BENCHMARK_MAIN();
