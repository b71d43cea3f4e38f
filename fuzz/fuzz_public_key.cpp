// A subjectPublicKeyInfo: the key the library makes of it must be the one OpenSSL's d2i_PUBKEY
// makes, or neither makes one.
#include <openssl/x509.h>

#include "codec/cms/public_key.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using Velmora::ASN1::PublicKeyPtr;
  const PublicKeyPtr ours = Velmora::ASN1::DecodePublicKey(std::span(data, size));
  const unsigned char* cursor = data;
  PublicKeyPtr theirs(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(size)));
  if (cursor != data + size) {
    theirs.reset();
  }
  if ((ours == nullptr) != (theirs == nullptr)) {
    __builtin_trap();
  }
  // Keys of other kinds come from d2i_PUBKEY on both sides; RSA keys may be made apart.
  if (ours && EVP_PKEY_is_a(ours.get(), "RSA") == 1 && EVP_PKEY_eq(ours.get(), theirs.get()) != 1) {
    __builtin_trap();
  }
  return 0;
}
