#include "platform/capi/cert_hashed_roots.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace Velmora::Platform::Capi {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxLinksPerHash = 32;     // names that share a hash; more are not looked at
constexpr std::size_t kMaxNames = 4096;  // answers kept by name; later names are looked up anew

bool IsHashedLink(const std::string& name) {
  if (name.size() < 10 || name[8] != '.') {
    return false;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool ok =
        i < 8 ? (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') : i == 8 || (c >= '0' && c <= '9');
    if (!ok) {
      return false;
    }
  }
  return true;
}

// Whether `folder` holds a hashed link. Its names are read a few at a time and the reading stops
// at the first link, which comes within the first few names of a folder of links and their files:
// a file system that keeps a folder's names by their hash (ext4) then reads and sorts only a part
// of the folder, where a whole listing cost more than the rest of a one-chain process's calls.
bool HoldsHashedLink(const fs::path& folder) {
  struct Descriptor {
    int fd;
    ~Descriptor() {
      if (fd >= 0) {
        ::close(fd);
      }
    }
  } const folderFd{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (folderFd.fd < 0) {
    return false;
  }
  constexpr auto kNameAt = static_cast<ssize_t>(offsetof(dirent64, d_name));
  alignas(dirent64) char buffer[1024];
  for (;;) {
    const ssize_t got = ::getdents64(folderFd.fd, buffer, sizeof buffer);
    if (got <= 0) {
      return false;  // the end, or the folder cannot be read: no lookup by hash
    }
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      const auto length = static_cast<ssize_t>(entry->d_reclen);
      if (length <= kNameAt || length > got - at) {
        return false;
      }
      const std::size_t nameLength = ::strnlen(entry->d_name, length - kNameAt);
      if (IsHashedLink(std::string(entry->d_name, nameLength))) {
        return true;
      }
      at += length;
    }
  }
}

// OpenSSL's hash of a name's canonical form, as the links are named; false when OpenSSL cannot
// read the name.
bool NameHash(const CERT_NAME_BLOB& name, unsigned long& hash) {
  const unsigned char* p = name.pbData;
  X509_NAME* decoded = d2i_X509_NAME(nullptr, &p, static_cast<long>(name.cbData));
  if (decoded == nullptr) {
    ERR_clear_error();
    return false;
  }
  int ok = 0;
  hash = X509_NAME_hash_ex(decoded, nullptr, nullptr, &ok);
  X509_NAME_free(decoded);
  ERR_clear_error();
  return ok == 1;
}

// The certificates of one link's file, as contexts.
void ReadLink(const fs::path& path, std::vector<ContextRef>& into) {
  for (const std::vector<BYTE>& der : CertificatesOfTrustFile(path)) {
    ContextRef context(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                    der.data(), static_cast<DWORD>(der.size())));
    if (context) {
      into.push_back(std::move(context));
    }
  }
}

}  // namespace

std::shared_ptr<const HashedRoots> HashedRoots::Of(const fs::path& folder) {
  return HoldsHashedLink(folder) ? std::make_shared<HashedRoots>(folder) : nullptr;
}

void HashedRoots::AppendNamed(const CERT_NAME_BLOB& name, const std::string& key,
                              std::vector<PCCERT_CONTEXT>& into) const {
  {
    std::lock_guard lock(m_mutex);
    if (const auto found = m_byKey.find(key); found != m_byKey.end()) {
      into.insert(into.end(), found->second.begin(), found->second.end());
      return;
    }
  }
  unsigned long hash = 0;
  const bool hashed = NameHash(name, hash);
  std::lock_guard lock(m_mutex);
  std::vector<PCCERT_CONTEXT> named;
  if (hashed) {
    auto [at, added] = m_byHash.try_emplace(hash);
    if (added) {
      char stem[16];
      std::snprintf(stem, sizeof stem, "%08lx.", hash);
      for (int n = 0; n < kMaxLinksPerHash; ++n) {
        const fs::path link = m_folder / (stem + std::to_string(n));
        std::error_code error;
        if (!fs::exists(link, error)) {
          break;
        }
        ReadLink(link, at->second);
      }
    }
    for (const ContextRef& root : at->second) {
      if (NameKey(root->pCertInfo->Subject) == key) {  // the hash's other names and near misses
        named.push_back(root.get());
      }
    }
  }
  into.insert(into.end(), named.begin(), named.end());
  if (m_byKey.size() < kMaxNames) {
    m_byKey.emplace(key, std::move(named));
  }
}

}  // namespace Velmora::Platform::Capi
