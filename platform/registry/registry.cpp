#include "platform/registry/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include "platform/errors/guard.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/file/environment_snapshot.h"
#include "platform/file/path_watch.h"
#include "platform/registry/reg_file.h"

namespace Velmora::Platform {

namespace {

// A file modified less than this before it was read may change again without its times
// changing (file times advance in coarse steps), so it is not trusted to be the same next time.
constexpr long long kRacyWindowNanoseconds = 1'000'000'000;
constexpr DWORD kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK |
                               0x00010000u /* DELETE */ | 0x00040000u /* WRITE_DAC */ |
                               0x00080000u /* WRITE_OWNER */ | 0x10000000u /* GENERIC_ALL */ |
                               0x40000000u /* GENERIC_WRITE */;

// One version of a hive: the keys of a file as it was read, or why it could not be read.
struct HiveVersion {
  DWORD error = ERROR_SUCCESS;  // ERROR_BADDB, or the system's error when unreadable
  std::string problem;          // for RegistryHiveProblem
  RegFile::Hive hive;
  FILETIME lastWrite{};
};

struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  static FileStamp Of(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
  }
  bool operator==(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};

long long Nanoseconds(const timespec& time) {
  return static_cast<long long>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FILETIME FileTimeOf(const timespec& time) {
  const auto ticks = static_cast<unsigned long long>(
      static_cast<long long>(kUnixEpochFileTime) +
      static_cast<long long>(time.tv_sec) * 10'000'000 + time.tv_nsec / 100);
  return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// The path of a hive's file as the environment names it now. The variables it is made of are
// read at every look, since a program may change them between two calls; the path is made again
// only when one of them changed.
class HivePathNow {
 public:
  HivePathNow(HKEY root, std::initializer_list<const char*> variables)
      : m_root(root), m_variables(variables) {}

  const std::string& get() {
    std::string environment = EnvironmentSnapshot(m_variables);
    if (!m_made || environment != m_environment) {
      m_environment = std::move(environment);
      m_path = RegistryHivePath(m_root);
      m_made = true;
    }
    return m_path;
  }

 private:
  HKEY m_root;
  std::vector<const char*> m_variables;
  bool m_made = false;
  std::string m_environment;  // the path was made in
  std::string m_path;
};

// The hive of one root: the version read last, and when it may be used again.
class HiveCache {
 public:
  HiveCache(const wchar_t* rootName, HivePathNow pathNow)
      : m_rootName(rootName), m_pathNow(std::move(pathNow)) {}

  // The current version of the hive; reads its file when it changed.
  std::shared_ptr<const HiveVersion> current() {
    const std::lock_guard lock(m_mutex);
    const std::string& path = m_pathNow.get();
    if (path.empty()) {
      return remember(path, Empty(), FileStamp{}, false);
    }
    if (m_settled && m_path == path && m_watch.quiet()) {
      return m_version;
    }
    // A process that keeps reading the hive is spared the stat once the same answer came a few
    // times: the watch, armed before the stat, tells of any change after it.
    const bool watched = m_unchanged >= kLooksBeforeWatch && m_path == path;
    if (watched) {
      m_watch.arm({path});
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      const int error = errno;
      if (error == ENOENT || error == ENOTDIR) {
        const int unchanged = m_path == path && m_missing ? m_unchanged + 1 : 0;
        remember(path, Empty(), FileStamp{}, false);
        m_missing = true;
        m_unchanged = unchanged;
        m_settled = watched;
        return m_version;
      }
      return remember(path, Unreadable(path, error), FileStamp{}, false);
    }
    if (m_trusted && m_path == path && m_stamp == FileStamp::Of(info)) {
      ++m_unchanged;
      m_settled = watched;
      return m_version;
    }
    return read(path);
  }

  std::string problem() {
    const std::lock_guard lock(m_mutex);
    return m_version ? m_version->problem : std::string();
  }

 private:
  static std::shared_ptr<const HiveVersion> Empty() {
    static const auto empty = [] {
      auto version = std::make_shared<HiveVersion>();
      version->hive.keys.emplace(std::wstring(), RegFile::Key{});
      return std::shared_ptr<const HiveVersion>(std::move(version));
    }();
    return empty;
  }

  static std::shared_ptr<const HiveVersion> Unreadable(const std::string& path, int error) {
    auto version = std::make_shared<HiveVersion>();
    version->error = Win32FromErrno(error);
    version->problem = path + ": " + std::strerror(error);
    return version;
  }

  std::shared_ptr<const HiveVersion> read(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      if (error == ENOENT || error == ENOTDIR) {
        return remember(path, Empty(), FileStamp{}, false);
      }
      return remember(path, Unreadable(path, error), FileStamp{}, false);
    }
    struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      return remember(path, Unreadable(path, errno), FileStamp{}, false);
    }
    if (!S_ISREG(info.st_mode)) {
      return remember(path, Unreadable(path, EISDIR), FileStamp{}, false);
    }
    timespec readAt{};
    ::clock_gettime(CLOCK_REALTIME, &readAt);
    auto version = std::make_shared<HiveVersion>();
    version->lastWrite = FileTimeOf(info.st_mtim);
    std::vector<unsigned char> bytes;
    if (static_cast<unsigned long long>(info.st_size) > RegFile::kMaxHiveFileBytes) {
      version->error = ERROR_BADDB;
      version->problem = path + ": the file is larger than 16 MiB";
    } else {
      bytes.resize(static_cast<std::size_t>(info.st_size));
      std::size_t done = 0;
      while (true) {
        if (done == bytes.size()) {
          bytes.resize(done + 4096);  // the file may have grown since fstat
        }
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) {
          continue;
        }
        if (got < 0) {
          return remember(path, Unreadable(path, errno), FileStamp{}, false);
        }
        if (got == 0) {
          break;
        }
        done += static_cast<std::size_t>(got);
        if (done > RegFile::kMaxHiveFileBytes) {
          break;
        }
      }
      bytes.resize(done);
      RegFile::ParseResult parsed = RegFile::Parse(bytes, m_rootName);
      if (parsed.ok) {
        version->hive = std::move(parsed.hive);
      } else {
        version->error = ERROR_BADDB;
        version->problem = path +
                           (parsed.line != 0 ? ", line " + std::to_string(parsed.line) : "") +
                           ": " + parsed.problem;
      }
    }
    const bool trusted = Nanoseconds(info.st_mtim) + kRacyWindowNanoseconds < Nanoseconds(readAt) &&
                         Nanoseconds(info.st_ctim) + kRacyWindowNanoseconds < Nanoseconds(readAt);
    return remember(path, std::move(version), FileStamp::Of(info), trusted);
  }

  std::shared_ptr<const HiveVersion> remember(const std::string& path,
                                              std::shared_ptr<const HiveVersion> version,
                                              const FileStamp& stamp, bool trusted) {
    m_path = path;
    m_version = std::move(version);
    m_stamp = stamp;
    m_trusted = trusted;
    m_missing = false;
    m_settled = false;
    m_unchanged = 0;
    return m_version;
  }

  static constexpr int kLooksBeforeWatch = 3;

  const wchar_t* m_rootName;
  HivePathNow m_pathNow;
  std::mutex m_mutex;
  std::string m_path;
  std::shared_ptr<const HiveVersion> m_version;
  FileStamp m_stamp;
  bool m_trusted = false;  // the version read is the file's as long as its stamp stays
  bool m_missing = false;  // the file was not there
  PathWatch m_watch;       // over m_path, armed before the last stat when m_settled
  bool m_settled = false;
  int m_unchanged = 0;  // stats in a row that found the hive as it was
};

HiveCache& MachineHive() {
  static HiveCache* const cache =  // lives to the end
      new HiveCache(L"HKEY_LOCAL_MACHINE", HivePathNow(HKEY_LOCAL_MACHINE, {"VELMORA_ROOT"}));
  return *cache;
}

HiveCache& UserHive() {
  static HiveCache* const cache = new HiveCache(
      L"HKEY_CURRENT_USER", HivePathNow(HKEY_CURRENT_USER, {"XDG_CONFIG_HOME", "HOME"}));
  return *cache;
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = EnvironmentValue("HOME");
  if (!home.empty()) {
    return home;
  }
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    home = found->pw_dir;
  }
  return home;
}

bool IsMachine(HKEY key) {
  return key == HKEY_LOCAL_MACHINE;
}
bool IsPredefined(HKEY key) {
  return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER;
}

}  // namespace

// An open key: the hive version it was opened in and the key within it.
struct HKEY__ {
  std::shared_ptr<const HiveVersion> version;
  const RegFile::Key* key;
  std::wstring foldedPath;
};

namespace {

// Every handle that RegOpenKeyExW gave and RegCloseKey has not taken back, so that a stale or
// foreign handle is refused instead of being followed.
class OpenHandles {
 public:
  void add(HKEY key) {
    const std::lock_guard lock(m_mutex);
    m_open.insert(key);
  }
  bool remove(HKEY key) {
    const std::lock_guard lock(m_mutex);
    return m_open.erase(key) != 0;
  }
  bool contains(HKEY key) {
    const std::lock_guard lock(m_mutex);
    return m_open.contains(key);
  }

 private:
  std::mutex m_mutex;
  std::unordered_set<HKEY> m_open;
};

OpenHandles& Handles() {
  static OpenHandles* const handles = new OpenHandles;
  return *handles;
}

// The key that `key` names: an open handle, or the root of a predefined hive as it is now.
// `holder` keeps a root's hive version alive for the caller.
LSTATUS Resolve(HKEY key, std::shared_ptr<const HiveVersion>& holder, const RegFile::Key*& found,
                std::wstring* foldedPath) {
  if (IsPredefined(key)) {
    HiveCache& cache = IsMachine(key) ? MachineHive() : UserHive();
    holder = cache.current();
    if (holder->error != ERROR_SUCCESS) {
      return static_cast<LSTATUS>(holder->error);
    }
    found = holder->hive.find(std::wstring());
    if (foldedPath != nullptr) {
      foldedPath->clear();
    }
    return ERROR_SUCCESS;
  }
  if (key == nullptr || !Handles().contains(key)) {
    return ERROR_INVALID_HANDLE;
  }
  holder = key->version;
  found = key->key;
  if (foldedPath != nullptr) {
    *foldedPath = key->foldedPath;
  }
  return ERROR_SUCCESS;
}

// Copies `bytes` to a caller's buffer by the platform's size-query protocol.
LSTATUS CopyData(const std::vector<BYTE>& bytes, BYTE* data, DWORD* dataSize) {
  if (dataSize == nullptr) {
    return ERROR_SUCCESS;
  }
  const auto size = static_cast<DWORD>(bytes.size());
  if (data != nullptr) {
    if (*dataSize < size) {
      *dataSize = size;
      return ERROR_MORE_DATA;
    }
    if (size != 0) {
      std::memcpy(data, bytes.data(), size);
    }
  }
  *dataSize = size;
  return ERROR_SUCCESS;
}

}  // namespace

std::string RegistryHivePath(HKEY root) {
  if (IsMachine(root)) {
    return EnvironmentValue("VELMORA_ROOT") + "/etc/velmora/machine.reg";
  }
  if (root != HKEY_CURRENT_USER) {
    return {};
  }
  std::string config = EnvironmentValue("XDG_CONFIG_HOME");
  if (config.empty() || config.front() != '/') {  // a relative value is invalid and ignored
    const std::string home = HomeFolder();
    if (home.empty()) {
      return {};
    }
    config = home + "/.config";
  }
  return config + "/velmora/user.reg";
}

std::string RegistryHiveProblem(HKEY root) {
  if (!IsPredefined(root)) {
    return {};
  }
  return (IsMachine(root) ? MachineHive() : UserHive()).problem();
}

LSTATUS RegOpenKeyExW(HKEY key, const wchar_t* subKey, DWORD options, REGSAM desired,
                      HKEY* result) noexcept try {
  if (result == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  *result = nullptr;
  if (options != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<const HiveVersion> version;
  const RegFile::Key* base = nullptr;
  std::wstring path;
  if (const LSTATUS status = Resolve(key, version, base, &path); status != ERROR_SUCCESS) {
    return status;
  }
  if ((desired & kWriteRights) != 0) {
    return ERROR_ACCESS_DENIED;  // the hives are read only
  }
  std::wstring_view rest = subKey != nullptr ? std::wstring_view(subKey) : std::wstring_view();
  if (!rest.empty() && rest.front() == L'\\') {
    return ERROR_BAD_PATHNAME;
  }
  if (!rest.empty() && rest.back() == L'\\') {
    rest.remove_suffix(1);
  }
  const RegFile::Key* target = base;
  if (!rest.empty()) {
    path.reserve(path.size() + rest.size() + 1);
    while (true) {
      const std::size_t end = rest.find(L'\\');
      const std::wstring_view part = rest.substr(0, end);
      if (part.empty()) {
        return ERROR_BAD_PATHNAME;
      }
      if (!path.empty()) {
        path += L'\\';
      }
      RegFile::AppendFoldedName(path, part);
      if (end == std::wstring_view::npos) {
        break;
      }
      rest.remove_prefix(end + 1);
    }
    target = version->hive.find(path);
    if (target == nullptr) {
      return ERROR_FILE_NOT_FOUND;
    }
  }
  auto* opened = new HKEY__{std::move(version), target, std::move(path)};
  Handles().add(opened);
  *result = opened;
  return ERROR_SUCCESS;
} catch (...) {
  return static_cast<LSTATUS>(Win32OfCurrentException(ERROR_GEN_FAILURE));
}

LSTATUS RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize) noexcept try {
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<const HiveVersion> version;
  const RegFile::Key* found = nullptr;
  if (const LSTATUS status = Resolve(key, version, found, nullptr); status != ERROR_SUCCESS) {
    return status;
  }
  const RegFile::Value* value =
      found->find(name != nullptr ? std::wstring_view(name) : std::wstring_view());
  if (value == nullptr) {
    return ERROR_FILE_NOT_FOUND;
  }
  if (type != nullptr) {
    *type = value->type;
  }
  return CopyData(value->data, data, dataSize);
} catch (...) {
  return static_cast<LSTATUS>(Win32OfCurrentException(ERROR_GEN_FAILURE));
}

LSTATUS RegQueryInfoKeyW(HKEY key, wchar_t* className, DWORD* classLength, DWORD* reserved,
                         DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                         DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength,
                         DWORD* securityDescriptorSize, FILETIME* lastWriteTime) noexcept try {
  if (reserved != nullptr || (className != nullptr && classLength == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<const HiveVersion> version;
  const RegFile::Key* found = nullptr;
  if (const LSTATUS status = Resolve(key, version, found, nullptr); status != ERROR_SUCCESS) {
    return status;
  }
  if (className != nullptr) {
    if (*classLength < 1) {
      return ERROR_MORE_DATA;
    }
    className[0] = L'\0';
  }
  if (classLength != nullptr) {
    *classLength = 0;
  }
  if (subKeys != nullptr) {
    *subKeys = found->subKeyCount;
  }
  if (maxSubKeyLength != nullptr) {
    *maxSubKeyLength = found->maxSubKeyNameLength;
  }
  if (maxClassLength != nullptr) {
    *maxClassLength = 0;
  }
  if (values != nullptr) {
    *values = static_cast<DWORD>(found->values.size());
  }
  if (maxValueNameLength != nullptr) {
    *maxValueNameLength = found->maxValueNameLength;
  }
  if (maxValueLength != nullptr) {
    *maxValueLength = found->maxValueDataSize;
  }
  if (securityDescriptorSize != nullptr) {
    *securityDescriptorSize = 0;
  }
  if (lastWriteTime != nullptr) {
    *lastWriteTime = version->lastWrite;
  }
  return ERROR_SUCCESS;
} catch (...) {
  return static_cast<LSTATUS>(Win32OfCurrentException(ERROR_GEN_FAILURE));
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameLength, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* dataSize) noexcept try {
  if (name == nullptr || nameLength == nullptr || reserved != nullptr ||
      (data != nullptr && dataSize == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<const HiveVersion> version;
  const RegFile::Key* found = nullptr;
  if (const LSTATUS status = Resolve(key, version, found, nullptr); status != ERROR_SUCCESS) {
    return status;
  }
  if (index >= found->values.size()) {
    return ERROR_NO_MORE_ITEMS;
  }
  const RegFile::Value& value = found->values[index];
  const auto length = static_cast<DWORD>(value.name.size());
  if (*nameLength < length + 1) {
    *nameLength = length + 1;
    return ERROR_MORE_DATA;
  }
  std::wmemcpy(name, value.name.data(), length);
  name[length] = L'\0';
  *nameLength = length;
  if (type != nullptr) {
    *type = value.type;
  }
  return CopyData(value.data, data, dataSize);
} catch (...) {
  return static_cast<LSTATUS>(Win32OfCurrentException(ERROR_GEN_FAILURE));
}

LSTATUS RegCloseKey(HKEY key) noexcept {
  if (IsPredefined(key)) {
    return ERROR_SUCCESS;
  }
  if (key == nullptr || !Handles().remove(key)) {
    return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

}  // namespace Velmora::Platform
