// Loading Debian's GOST provider and engine for the library (see gost_module.h).
#define OPENSSL_SUPPRESS_DEPRECATED  // the engine interface is deprecated in OpenSSL 3
#include "platform/crypto/gost_module.h"

#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/provider.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/registry/registry.h"

namespace Velmora::Platform {

namespace {

constexpr const wchar_t* kPolicyKey = L"Software\\Policies\\Velmora\\TSP";
constexpr const wchar_t* kDisableValue = L"DisableGOST";

// The REG_DWORD `DisableGOST` under the policy key of `root`: 1 set, 0 clear, -1 absent (or of
// another type, as the policy readers treat it).
int PolicyValue(HKEY root) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, kPolicyKey, 0, KEY_READ, &key) != 0) {
    return -1;
  }
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  const LSTATUS status =
      RegQueryValueExW(key, kDisableValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (status != 0 || type != REG_DWORD || size != sizeof value) {
    return -1;
  }
  return value != 0 ? 1 : 0;
}

bool DisabledByPolicy() {
  const int machine = PolicyValue(HKEY_LOCAL_MACHINE);
  return machine >= 0 ? machine == 1 : PolicyValue(HKEY_CURRENT_USER) == 1;
}

// A folder OpenSSL was built with, from its version text (`MODULESDIR: "/usr/lib/..."`).
std::string BuiltInFolder(int which) {
  const std::string_view text = OpenSSL_version(which);
  const auto first = text.find('"');
  const auto last = text.rfind('"');
  return first == std::string_view::npos || last <= first
             ? std::string()
             : std::string(text.substr(first + 1, last - first - 1));
}

// The folder of an environment variable OpenSSL itself honours, else the built-in one.
std::filesystem::path ModuleFile(const char* variable, int builtIn, const char* file) {
  const char* set = std::getenv(variable);
  return std::filesystem::path(set != nullptr && *set != '\0' ? set : BuiltInFolder(builtIn)) /
         file;
}

bool Exists(const std::filesystem::path& path) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(path, ignored);
}

// The engine from its shared object, bound but neither listed nor made a default; its key
// methods registered. Null when it cannot be loaded.
ENGINE* LoadEngine(const std::filesystem::path& file) {
  if (OPENSSL_init_crypto(OPENSSL_INIT_ENGINE_DYNAMIC, nullptr) != 1) {
    return nullptr;
  }
  ENGINE* engine = ENGINE_by_id("dynamic");
  if (engine == nullptr) {
    return nullptr;
  }
  const bool loaded = ENGINE_ctrl_cmd_string(engine, "SO_PATH", file.c_str(), 0) == 1 &&
                      ENGINE_ctrl_cmd_string(engine, "ID", "gost", 0) == 1 &&
                      ENGINE_ctrl_cmd_string(engine, "LIST_ADD", "0", 0) == 1 &&
                      ENGINE_ctrl_cmd_string(engine, "LOAD", nullptr, 0) == 1;
  if (!loaded || ENGINE_init(engine) != 1) {
    ENGINE_free(engine);
    return nullptr;
  }
  if (ENGINE_register_pkey_asn1_meths(engine) != 1 || ENGINE_register_pkey_meths(engine) != 1) {
    ENGINE_finish(engine);
    ENGINE_free(engine);
    return nullptr;
  }
  return engine;  // kept for the life of the process
}

struct Module {
  OSSL_LIB_CTX* context = nullptr;
  ENGINE* engine = nullptr;
};

// Never destroyed, like the provider catalogue: a digest fetched from the context may be used
// while the process exits.
std::filesystem::path ProviderFile() {
  return ModuleFile("OPENSSL_MODULES", OPENSSL_MODULES_DIR, "gostprov.so");
}

std::filesystem::path EngineFile() {
  return ModuleFile("OPENSSL_ENGINES", OPENSSL_ENGINES_DIR, "gost.so");
}

bool Installed() {
  return !DisabledByPolicy() && Exists(ProviderFile()) && Exists(EngineFile());
}

Module Load() {
  if (!Installed()) {
    return {};
  }
  const std::filesystem::path provider = ProviderFile();
  const std::filesystem::path engine = EngineFile();
  ERR_set_mark();
  Module module;
  OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
  if (context != nullptr && OSSL_PROVIDER_load(context, provider.c_str()) != nullptr &&
      (module.engine = LoadEngine(engine)) != nullptr) {
    module.context = context;
  } else {
    OSSL_LIB_CTX_free(context);  // also unloads a provider loaded into it
  }
  ERR_pop_to_mark();
  return module;
}

const Module& TheModule() noexcept {
  static const Module module = [] {
    try {
      return Load();
    } catch (...) {  // no memory to make a path: unloaded, so no GOST signature verifies
      return Module{};
    }
  }();
  return module;
}

}  // namespace

bool GostModuleLoaded() noexcept {
  return TheModule().context != nullptr;
}

bool GostModuleInstalled() noexcept {
  static const bool installed = [] {
    try {
      return Installed();
    } catch (...) {  // not known to be installed: GOST signatures do not verify, nothing is trusted
      return false;
    }
  }();
  return installed;
}

void LoadGostModuleForKey(const unsigned char* der, std::size_t length) noexcept {
  // An OBJECT IDENTIFIER whose first arcs are 1.2.643: 06 LL 2A 85 03.
  static constexpr unsigned char kArc[] = {0x2A, 0x85, 0x03};
  for (std::size_t i = 2; der != nullptr && i + sizeof kArc <= length; ++i) {
    if (der[i - 2] == 0x06 && der[i] == kArc[0] && der[i + 1] == kArc[1] && der[i + 2] == kArc[2]) {
      GostModuleLoaded();
      return;
    }
  }
}

OSSL_LIB_CTX* GostLibraryContext() noexcept {
  return TheModule().context;
}

EVP_MD* FetchDigest(const char* name) noexcept {
  if (name == nullptr || *name == '\0') {
    return nullptr;
  }
  ERR_set_mark();
  EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  if (md == nullptr && GostLibraryContext() != nullptr) {
    md = EVP_MD_fetch(GostLibraryContext(), name, nullptr);
  }
  ERR_pop_to_mark();
  return md;
}

}  // namespace Velmora::Platform
