// The system's trusted roots looked up by subject name in a folder of OpenSSL's hashed links
// (`<8 hex digits>.<n>`, what `openssl rehash` and update-ca-certificates keep next to the bundle),
// so that a chain meets only the roots of its issuers' names: nothing is read before a chain asks,
// and then only the files of the names it asks for, each once for the process.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/capi/cert_chain_internal.h"

namespace Velmora::Platform::Capi {

class HashedRoots {
 public:
  // The folder's lookup, or null when it holds no hashed link (the bundle is read instead).
  static std::shared_ptr<const HashedRoots> Of(const std::filesystem::path& folder);

  explicit HashedRoots(std::filesystem::path folder) : m_folder(std::move(folder)) {}

  // The roots whose subject matches `name` (NameKey equal to `key`), appended to `into`.
  void AppendNamed(const CERT_NAME_BLOB& name, const std::string& key,
                   std::vector<PCCERT_CONTEXT>& into) const;

 private:
  std::filesystem::path m_folder;
  mutable std::mutex m_mutex;
  // The certificates of each name hash's files, read on first ask.
  mutable std::unordered_map<unsigned long, std::vector<ContextRef>> m_byHash;
  // The answer for each name key asked (the roots are those of m_byHash), so that a name met
  // again is neither decoded by OpenSSL nor hashed.
  mutable std::unordered_map<std::string, std::vector<PCCERT_CONTEXT>> m_byKey;
};

}  // namespace Velmora::Platform::Capi
