// The GOST algorithms of Debian's gost engine (libengine-gost-openssl) in the test TSA's own
// process: GOST keys for its CA and TSA certificates, GOST R 34.11 imprints and signer digests.
#pragma once

#include <openssl/evp.h>

#include <string>

#include "ossl_ptr.h"

namespace TestTsa {

enum class KeyType { ec, gost2012_256, gost2012_512 };

// "ec", "gost2012-256" or "gost2012-512"; false for any other text.
bool ParseKeyType(const std::string& text, KeyType& type);

// Loads the engine once and makes it serve the GOST keys and digests; false when it is not
// installed.
bool GostEngineLoaded();

// A new key of the type (GOST keys with parameter set A; the engine must be loaded).
PkeyPtr NewKey(KeyType type);

using TestPki::SigningDigest;

}  // namespace TestTsa
