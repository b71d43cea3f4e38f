#define OPENSSL_SUPPRESS_DEPRECATED  // the engine interface is deprecated in OpenSSL 3
#include "gost.h"

#include <openssl/engine.h>
#include <openssl/err.h>

namespace TestTsa {

bool ParseKeyType(const std::string& text, KeyType& type) {
  if (text == "ec") {
    type = KeyType::ec;
  } else if (text == "gost2012-256") {
    type = KeyType::gost2012_256;
  } else if (text == "gost2012-512") {
    type = KeyType::gost2012_512;
  } else {
    return false;
  }
  return true;
}

bool GostEngineLoaded() {
  static ENGINE* engine = nullptr;  // kept for the life of the process
  static const bool loaded = [] {
    engine = ENGINE_by_id("gost");  // found in OpenSSL's engine folder
    if (engine == nullptr || ENGINE_init(engine) != 1) {
      ERR_clear_error();
      return false;
    }
    const bool registered = ENGINE_register_pkey_asn1_meths(engine) == 1 &&
                            ENGINE_register_pkey_meths(engine) == 1 &&
                            ENGINE_register_digests(engine) == 1;
    ERR_clear_error();
    return registered;
  }();
  return loaded;
}

PkeyPtr NewKey(KeyType type) {
  if (type == KeyType::ec) {
    PkeyPtr key(EVP_EC_gen("P-256"));
    Require(key != nullptr, "EC key generation");
    return key;
  }
  Require(GostEngineLoaded(), "loading the gost engine (libengine-gost-openssl)");
  const int nid =
      type == KeyType::gost2012_256 ? NID_id_GostR3410_2012_256 : NID_id_GostR3410_2012_512;
  std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX_free>> ctx(EVP_PKEY_CTX_new_id(nid, nullptr));
  EVP_PKEY* made = nullptr;
  Require(ctx && EVP_PKEY_keygen_init(ctx.get()) == 1 &&
              EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", "A") > 0 &&
              EVP_PKEY_keygen(ctx.get(), &made) == 1,
          "GOST key generation");
  return PkeyPtr(made);
}

const EVP_MD* SigningDigest(const EVP_PKEY* key) {
  switch (EVP_PKEY_get_base_id(key)) {
    case NID_id_GostR3410_2012_256:
      return EVP_get_digestbynid(NID_id_GostR3411_2012_256);
    case NID_id_GostR3410_2012_512:
      return EVP_get_digestbynid(NID_id_GostR3411_2012_512);
    case NID_id_GostR3410_2001:
      return EVP_get_digestbynid(NID_id_GostR3411_94);
    default:
      return EVP_sha256();
  }
}

}  // namespace TestTsa
