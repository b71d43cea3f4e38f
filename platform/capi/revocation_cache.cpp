#include "platform/capi/revocation_cache.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "platform/capi/revocation_crl.h"

namespace Velmora::Platform::Capi {

namespace {

namespace fs = std::filesystem;

std::string HashName(CacheKind kind, const std::string& key) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);  // fetched once
  EVP_Digest(key.data(), key.size(), digest, &length, sha256, nullptr);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string name = kind == CacheKind::Ocsp ? "ocsp-" : "crl-";
  for (unsigned int i = 0; i < length; ++i) {
    name += kDigits[digest[i] >> 4];
    name += kDigits[digest[i] & 15];
  }
  return name + ".der";
}

// Writes all of `bytes` to `fd`.
bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

const fs::path& RevocationCacheFolder() {
  struct Made {
    std::string cache;
    std::string home;
    fs::path folder;
  };
  // A cache of the path last made from the environment, keyed by the variables it was made from:
  // it changes no verdict, only spares rebuilding the path (per thread, so no lock is needed and
  // the reference returned stays the caller's thread's).
  thread_local Made made;
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  const std::string_view cacheText = cache != nullptr ? cache : "";
  const std::string_view homeText = home != nullptr ? home : "";
  if (!made.folder.empty() && made.cache == cacheText && made.home == homeText) {
    return made.folder;
  }
  fs::path base;
  if (cacheText.starts_with('/')) {
    base = cacheText;
  } else {
    base = fs::path(homeText.empty() ? "/tmp" : homeText) / ".cache";
  }
  made = {std::string(cacheText), std::string(homeText), base / "velmora" / "revocation"};
  return made.folder;
}

fs::path RevocationCacheFile(CacheKind kind, const std::string& key) {
  return RevocationCacheFolder() / HashName(kind, key);
}

std::optional<std::vector<std::uint8_t>> ReadRevocationCache(CacheKind kind,
                                                             const std::string& key) {
  const fs::path path = RevocationCacheFile(kind, key);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  bool good = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 || bytes.size() + static_cast<std::size_t>(n) > kMaxRevocationDataBytes) {
      good = false;
      break;
    }
    if (n == 0) {
      break;
    }
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  if (!good) {
    return std::nullopt;
  }
  return bytes;
}

void WriteRevocationCache(CacheKind kind, const std::string& key,
                          const std::vector<std::uint8_t>& bytes) noexcept {
  try {
    static std::atomic<unsigned> counter{0};
    const fs::path folder = RevocationCacheFolder();  // a copy: the thread's may be remade
    std::error_code error;
    fs::create_directories(folder, error);
    const fs::path target = folder / HashName(kind, key);
    const fs::path temporary =
        folder / ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                  std::to_string(counter.fetch_add(1)) + ".tmp");
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      return;
    }
    const bool written = WriteAll(fd, bytes);
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), target.c_str()) != 0) {
      ::unlink(temporary.c_str());
    }
  } catch (...) {
    // Not remembered; the next check fetches again. Failing to write grants no trust.
  }
}

}  // namespace Velmora::Platform::Capi
