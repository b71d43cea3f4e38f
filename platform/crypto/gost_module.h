// Debian's GOST module (package libengine-gost-openssl) made available to the library's own work,
// without the user editing openssl.cnf:
//   - the `gostprov` provider, loaded into a library context of the library's own, gives the
//     digests GOST R 34.11-94 and 34.11-2012 (256 and 512 bits); the host application's default
//     context is left as it was;
//   - the `gost` engine gives what the 3.0-series provider lacks, the keys and signatures of
//     GOST R 34.10-2001 and 34.10-2012. OpenSSL ties engines to its default context, so this part
//     cannot be kept apart: the engine is loaded without being added to OpenSSL's engine list and
//     without becoming the default for anything, and only its key methods (for the GOST key types
//     alone) are registered, process-wide. Loading it also enters its digests and ciphers in
//     OpenSSL's table of names, where only a caller that asks for a GOST algorithm by name meets
//     them.
// Both are loaded together on first use, once per process, from OpenSSL's module and engine
// folders, unless the administrator policy DisableGOST (Software\Policies\Velmora\TSP, machine
// value before user value, REG_DWORD not 0) turns GOST off. When the module is absent, disabled,
// or fails to load, nothing changes and nothing is printed: the GOST algorithms stay unknown.
#pragma once

#include <openssl/evp.h>

#include <cstddef>

namespace Velmora::Platform {

// Whether the GOST module is loaded for this process (the first call loads it). Thread-safe.
bool GostModuleLoaded() noexcept;

// Whether the GOST module is installed and not turned off by the policy, without loading it (a
// process that never meets a GOST algorithm never maps it).
bool GostModuleInstalled() noexcept;

// Loads the GOST module when the DER of a subjectPublicKeyInfo (or any encoding that holds an
// algorithm identifier) names an OID of the GOST arc 1.2.643, so that OpenSSL knows GOST keys
// before it decodes one; other keys leave the module unloaded.
void LoadGostModuleForKey(const unsigned char* der, std::size_t length) noexcept;

// The library context that holds the GOST provider, or null when the module is not loaded.
OSSL_LIB_CTX* GostLibraryContext() noexcept;

// The digest of an OpenSSL name or dotted OID from the default library context, else from the
// GOST module's; null when neither has it. The caller frees it (EVP_MD_free). OpenSSL's error
// queue is left as it was.
EVP_MD* FetchDigest(const char* name) noexcept;

}  // namespace Velmora::Platform
