#include "codec/cms/public_key.h"

#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include "codec/der/der_reader.h"
#include "platform/crypto/gost_module.h"
#include "platform/errors/atl_exception.h"

namespace Velmora::ASN1 {

namespace {

using BignumPtr = std::unique_ptr<BIGNUM, Platform::FreeWith<BN_free>>;
using ParamBuildPtr = std::unique_ptr<OSSL_PARAM_BLD, Platform::FreeWith<OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, Platform::FreeWith<OSSL_PARAM_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Platform::FreeWith<EVP_PKEY_CTX_free>>;

constexpr const char* kRsaEncryption = "1.2.840.113549.1.1.1";

PublicKeyPtr RsaKeyOf(Der::Bytes modulus, Der::Bytes exponent) {
  const BignumPtr n(BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr));
  const BignumPtr e(BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr));
  const ParamBuildPtr build(OSSL_PARAM_BLD_new());
  if (!n || !e || !build ||
      OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1) {
    return nullptr;
  }
  const ParamsPtr params(OSSL_PARAM_BLD_to_param(build.get()));
  const PkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* key = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return nullptr;
  }
  return PublicKeyPtr(key);
}

// An rsaEncryption key in plain DER: parameters absent or NULL, no unused bits, the modulus and
// the exponent and nothing after them. Null for anything else, which OpenSSL then reads. The
// numbers are read as OpenSSL reads them, as unsigned magnitudes.
PublicKeyPtr PlainRsaKey(std::span<const unsigned char> spki) {
  try {
    const Der::Element info = Der::ReadSingle(spki);
    if (info.tag != Der::Tags::Sequence || info.indefinite) {
      return nullptr;
    }
    Der::Reader fields = info.children();
    const Der::Element algorithm = fields.expect(Der::Tags::Sequence);
    const Der::BitString key = Der::ReadBitString(fields.expect(Der::Tags::BitString));
    fields.finish();
    Der::Reader identifier = algorithm.children();
    if (algorithm.indefinite || Der::ReadOid(identifier.expect(Der::Tags::Oid)) != kRsaEncryption) {
      return nullptr;
    }
    if (!identifier.empty()) {
      Der::ReadNull(identifier.expect(Der::Tags::Null));
    }
    identifier.finish();
    if (key.unusedBits != 0) {
      return nullptr;
    }
    const Der::Element numbers = Der::ReadSingle(key.bytes);
    if (numbers.tag != Der::Tags::Sequence || numbers.indefinite) {
      return nullptr;
    }
    Der::Reader values = numbers.children();
    const Der::Bytes modulus = Der::ReadIntegerBytes(values.expect(Der::Tags::Integer));
    const Der::Bytes exponent = Der::ReadIntegerBytes(values.expect(Der::Tags::Integer));
    values.finish();
    return RsaKeyOf(modulus, exponent);
  } catch (const Platform::CAtlException&) {
    return nullptr;  // not the plain form: OpenSSL's own decoder has the last word
  }
}

}  // namespace

PublicKeyPtr DecodePublicKey(std::span<const unsigned char> spki) {
  if (PublicKeyPtr key = PlainRsaKey(spki)) {
    return key;
  }
  Platform::LoadGostModuleForKey(spki.data(), spki.size());  // OpenSSL knows GOST keys once loaded
  const unsigned char* cursor = spki.data();
  PublicKeyPtr key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(spki.size())));
  if (cursor != spki.data() + spki.size()) {
    return nullptr;
  }
  return key;
}

}  // namespace Velmora::ASN1
