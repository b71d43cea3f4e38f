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
  if (type != KeyType::ec) {
    Require(GostEngineLoaded(), "loading the gost engine (libengine-gost-openssl)");
  }
  return TestPki::NewKey(type == KeyType::ec             ? TestPki::KeyKind::EcP256
                         : type == KeyType::gost2012_256 ? TestPki::KeyKind::Gost2012_256
                                                         : TestPki::KeyKind::Gost2012_512);
}

}  // namespace TestTsa
