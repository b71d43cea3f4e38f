// The trust material of the default chain engine, and CertAddTrustedRootsFromFile.
//
// Trusted roots come from three places:
//   - the machine's system trust store: the bundle named by SSL_CERT_FILE when it is set (to
//     another file than the default bundle) and holds a certificate; else OpenSSL's default
//     certificate folder (SSL_CERT_DIR overrides it) through its hashed links, where only the files
//     of the names a chain asks for are read (cert_hashed_roots.h; update-ca-certificates keeps
//     them beside the bundle, with the same roots); else OpenSSL's default certificate file; else
//     every file of that folder;
//   - the "Root" store folders of the machine and of the current user
//     (cert_system_store.cpp says where they are);
//   - the files given to CertAddTrustedRootsFromFile, for the rest of the process.
// The "CA" store folders give untrusted intermediates. CRL files (PEM "X509 CRL" blocks or DER)
// in the "Root" and "CA" folders give the revocation lists.
//
// Every file of a folder may hold several certificates and CRLs (PEM blocks), or one DER
// certificate or CRL; ".key" files, files above 1 MiB and what does not decode are skipped.
//
// The material is read on first use and kept. Before each chain, the folders' and the system
// file's modification times (and their paths, which follow the environment) are compared with
// those seen at the last read; any change, or roots added since, reads everything again. A file
// rewritten in place within a folder's time granularity may go unnoticed until the next change.
// From the second chain on, those times are taken only when something may have changed: inotify
// watches each source path that exists and every folder above it (and above a missing one, where
// it would appear), so a chain met while none of them saw an event costs one read of the watch
// instead of a stat per path. The times are taken anyway when the watch is older than a second (a
// file system whose changes inotify does not see, a mount), after a fork (the child shares the
// parent's watch), and whenever a watch cannot be made. The first chain of a process only takes
// the times, which tell any later change apart (a change gets a later time), so a process that
// judges one chain makes no watch; unless a time is within two seconds of now: a change in the
// same tick of the file system's clock would keep that time, so the watch is made at once.
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "platform/capi/capi_util.h"
#include "platform/capi/cert_bundle_file.h"
#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_hashed_roots.h"
#include "platform/capi/cert_name_match.h"
#include "platform/capi/cert_system_store.h"
#include "platform/capi/revocation_crl.h"
#include "platform/file/environment_snapshot.h"
#include "platform/file/path_watch.h"

namespace Velmora::Platform::Capi {

namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kMaxFolderFile = 1u << 20;
constexpr std::uintmax_t kMaxBundleFile = 64u << 20;

struct FileContents {
  std::vector<std::vector<BYTE>> certificates;  // DER
  std::vector<CrlRef> crls;
};

CrlRef CrlOf(const unsigned char* data, long length) {
  const unsigned char* p = data;
  X509_CRL* crl = d2i_X509_CRL(nullptr, &p, length);
  if (crl == nullptr || p != data + length) {
    X509_CRL_free(crl);
    return nullptr;
  }
  return CrlRef(crl, X509_CRL_free);
}

// The certificates and CRLs of a file's bytes: PEM blocks, else the whole as one DER object.
FileContents Parse(const std::vector<BYTE>& file) {
  FileContents contents;
  if (file.empty()) {
    return contents;
  }
  for (BundleObject& object : ReadBundleObjects(file)) {
    if (object.pemType.empty()) {
      PCCERT_CONTEXT probe = CertCreateCertificateContext(X509_ASN_ENCODING, object.der.data(),
                                                          static_cast<DWORD>(object.der.size()));
      if (probe != nullptr) {
        CertFreeCertificateContext(probe);
        contents.certificates.push_back(std::move(object.der));
      } else if (CrlRef crl = CrlOf(object.der.data(), static_cast<long>(object.der.size()))) {
        contents.crls.push_back(std::move(crl));
      }
    } else if (object.pemType == "CERTIFICATE") {
      contents.certificates.push_back(std::move(object.der));
    } else if (object.pemType == "X509 CRL") {
      if (CrlRef crl = CrlOf(object.der.data(), static_cast<long>(object.der.size()))) {
        contents.crls.push_back(std::move(crl));
      }
    }
  }
  return contents;
}

// A context of each certificate that decodes (the others are skipped), by subject name.
void AddCertificates(const FileContents& contents,
                     std::unordered_multimap<std::string, ContextRef>& into) {
  for (const std::vector<BYTE>& der : contents.certificates) {
    ContextRef context(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                    der.data(), static_cast<DWORD>(der.size())));
    if (context) {
      std::string key(NameKey(context->pCertInfo->Subject));
      into.emplace(std::move(key), std::move(context));
    }
  }
}

void AddCrls(const FileContents& contents,
             std::unordered_multimap<std::string, std::shared_ptr<const CrlData>>& into) {
  for (const CrlRef& crl : contents.crls) {
    try {
      std::shared_ptr<const CrlData> data = CrlData::FromX509(crl.get());
      into.emplace(data->issuerKey(), std::move(data));
    } catch (const CAtlException&) {
      // A CRL that does not decode, or with a critical extension we do not know, speaks for
      // nothing.
    }
  }
}

// The regular files of a folder in name order; none when it does not exist.
std::vector<fs::path> FilesOf(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error) && it->path().extension() != ".key") {
      files.push_back(it->path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

FileContents ReadFolderFile(const fs::path& path) {
  std::vector<BYTE> bytes;
  if (ReadBundleFile(path, kMaxFolderFile, bytes)) {
    return {};
  }
  return Parse(bytes);
}

fs::path SystemTrustFile() {
  const char* overridden = std::getenv(X509_get_default_cert_file_env());
  return overridden != nullptr ? overridden : X509_get_default_cert_file();
}

fs::path SystemTrustFolder() {
  const char* overridden = std::getenv(X509_get_default_cert_dir_env());
  return overridden != nullptr ? overridden : X509_get_default_cert_dir();
}

// Whether SSL_CERT_FILE names a bundle other than OpenSSL's default one (many environments set it
// to the default bundle itself, which chooses nothing).
bool BundleChosen(const fs::path& file) {
  if (std::getenv(X509_get_default_cert_file_env()) == nullptr) {
    return false;
  }
  std::error_code error;
  return !fs::equivalent(file, X509_get_default_cert_file(), error) || error;
}

// What the material was read from, to notice a change.
struct Stamp {
  bool exists = false;
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;
  bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const std::string& path) {
  Stamp stamp;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    stamp.exists = true;
    stamp.seconds = info.st_mtim.tv_sec;
    stamp.nanoseconds = info.st_mtim.tv_nsec;
  }
  return stamp;
}

struct Sources {
  std::vector<fs::path> rootFolders;
  std::vector<fs::path> caFolders;
  fs::path systemFile;
  fs::path systemFolder;
  std::vector<std::string> watched;  // all of them, as the stamps list them

  std::vector<Stamp> stamps() const {
    std::vector<Stamp> result;
    result.reserve(watched.size());
    for (const std::string& path : watched) {
      result.push_back(StampOf(path));
    }
    return result;
  }
};

Sources CurrentSources() {
  Sources sources;
  for (const DWORD location : {CERT_SYSTEM_STORE_LOCAL_MACHINE, CERT_SYSTEM_STORE_CURRENT_USER}) {
    sources.rootFolders.push_back(SystemStoreFolder(location, L"Root"));
    sources.caFolders.push_back(SystemStoreFolder(location, L"CA"));
  }
  sources.systemFile = SystemTrustFile();
  sources.systemFolder = SystemTrustFolder();
  for (const auto* list : {&sources.rootFolders, &sources.caFolders}) {
    for (const fs::path& folder : *list) {
      sources.watched.push_back(folder.string());
    }
  }
  sources.watched.push_back(sources.systemFile.string());
  sources.watched.push_back(sources.systemFolder.string());
  return sources;
}

// The environment the sources' paths follow: they are made again only when it changed.
std::string EnvironmentOfSources() {
  const char* const names[] = {"VELMORA_ROOT", "XDG_DATA_HOME", "HOME",
                               X509_get_default_cert_file_env(), X509_get_default_cert_dir_env()};
  return EnvironmentSnapshot(names);
}

// Whether a source changed within the last two seconds (or claims a time to come): the next
// change could then keep the same time.
bool Recent(const std::vector<Stamp>& stamps) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return std::any_of(stamps.begin(), stamps.end(), [&](const Stamp& stamp) {
    return stamp.exists && stamp.seconds >= now.tv_sec - 2;
  });
}

struct State {
  std::mutex mutex;
  PathWatch watch;  // over the paths of `watchedSources`, armed before `stamps` were taken
  const Sources* watchedSources = nullptr;
  std::shared_ptr<const TrustMaterial> material;
  std::string environment;                 // of `sources`
  std::shared_ptr<const Sources> sources;  // what `material` was read from
  std::vector<Stamp> stamps;               // of `sources` when `material` was read
  unsigned long addedGeneration = 0;       // of `added` when `material` was read
  // Roots added by CertAddTrustedRootsFromFile, and how many times that succeeded.
  std::vector<std::vector<BYTE>> added;
  unsigned long generation = 0;
  bool stamped = false;  // the times were taken once: the watch pays from now on
};

State& TheState() {
  static State* state = new State();  // never destroyed: chains may be freed at exit
  return *state;
}

std::shared_ptr<const TrustMaterial> Read(const Sources& sources,
                                          const std::vector<std::vector<BYTE>>& added) {
  auto material = std::make_shared<TrustMaterial>();
  // The system trust store: a bundle the user chose; else the folder's hashed links, looked up
  // by name when a chain asks; else the default bundle, else every file of the folder.
  const bool bundleChosen = BundleChosen(sources.systemFile);
  const auto readBundle = [&] {
    std::vector<BYTE> bundle;
    return ReadBundleFile(sources.systemFile, kMaxBundleFile, bundle) ? FileContents{}
                                                                      : Parse(bundle);
  };
  FileContents system;
  if (bundleChosen) {
    system = readBundle();
  }
  if (system.certificates.empty()) {
    material->systemRoots = HashedRoots::Of(sources.systemFolder);
  }
  if (system.certificates.empty() && !material->systemRoots && !bundleChosen) {
    system = readBundle();
  }
  if (system.certificates.empty() && !material->systemRoots) {
    for (const fs::path& file : FilesOf(sources.systemFolder)) {
      FileContents one = ReadFolderFile(file);
      system.certificates.insert(system.certificates.end(), one.certificates.begin(),
                                 one.certificates.end());
      system.crls.insert(system.crls.end(), one.crls.begin(), one.crls.end());
    }
  }
  AddCertificates(system, material->anchors);
  AddCrls(system, material->crls);
  for (const fs::path& folder : sources.rootFolders) {
    for (const fs::path& file : FilesOf(folder)) {
      const FileContents contents = ReadFolderFile(file);
      AddCertificates(contents, material->anchors);
      AddCrls(contents, material->crls);
    }
  }
  for (const fs::path& folder : sources.caFolders) {
    for (const fs::path& file : FilesOf(folder)) {
      const FileContents contents = ReadFolderFile(file);
      AddCertificates(contents, material->intermediates);
      AddCrls(contents, material->crls);
    }
  }
  FileContents extra;
  extra.certificates = added;
  AddCertificates(extra, material->anchors);
  return material;
}

}  // namespace

std::vector<std::vector<BYTE>> CertificatesOfTrustFile(const fs::path& path) {
  return ReadFolderFile(path).certificates;
}

std::vector<PCCERT_CONTEXT> TrustMaterial::anchorsNamed(const CERT_NAME_BLOB& name,
                                                        const std::string& key) const {
  std::vector<PCCERT_CONTEXT> found;
  const auto [first, last] = anchors.equal_range(key);
  for (auto it = first; it != last; ++it) {
    found.push_back(it->second.get());
  }
  if (systemRoots) {
    systemRoots->AppendNamed(name, key, found);
  }
  return found;
}

std::shared_ptr<const TrustMaterial> CurrentTrust() {
  State& state = TheState();
  std::string environment = EnvironmentOfSources();
  std::shared_ptr<const Sources> sources;
  {
    std::lock_guard lock(state.mutex);
    if (state.sources && state.environment == environment) {
      sources = state.sources;
    }
  }
  const bool moved = !sources;
  if (moved) {
    sources = std::make_shared<const Sources>(CurrentSources());
  }
  std::lock_guard lock(state.mutex);
  if (!moved && state.material && state.addedGeneration == state.generation &&
      state.watchedSources == sources.get() && state.watch.quiet()) {
    return state.material;  // no source path saw a change since its times were taken
  }
  // Watched before the times are taken: a change made after them is seen next time.
  const auto arm = [&] {
    state.watch.arm(sources->watched);
    state.watchedSources = sources.get();
  };
  if (state.stamped) {
    arm();
  }
  std::vector<Stamp> stamps = sources->stamps();
  if (!state.stamped && Recent(stamps)) {
    arm();
    stamps = sources->stamps();
  }
  state.stamped = true;
  if (!state.material || moved || stamps != state.stamps ||
      state.addedGeneration != state.generation) {
    state.material = Read(*sources, state.added);
    state.environment = std::move(environment);
    state.sources = std::move(sources);
    state.stamps = std::move(stamps);
    state.addedGeneration = state.generation;
  }
  return state.material;
}

}  // namespace Velmora::Platform::Capi

namespace Velmora::Platform {

HRESULT CertAddTrustedRootsFromFile(const char* path) {
  if (path == nullptr) {
    return E_INVALIDARG;
  }
  try {
    std::vector<BYTE> bytes;
    const std::error_code error = Capi::ReadBundleFile(path, Capi::kMaxBundleFile, bytes);
    if (error) {
      if (error == std::errc::no_such_file_or_directory) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
      }
      if (error == std::errc::permission_denied) {
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
      }
      return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
    }
    const Capi::FileContents contents = Capi::Parse(bytes);
    if (contents.certificates.empty()) {
      return CRYPT_E_NOT_FOUND;
    }
    // Every certificate must decode before any is added.
    for (const std::vector<BYTE>& der : contents.certificates) {
      PCCERT_CONTEXT context = CertCreateCertificateContext(
          X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
      if (context == nullptr) {
        const HRESULT hr = static_cast<HRESULT>(GetLastError());
        return FAILED(hr) ? hr : CRYPT_E_ASN1_ERROR;
      }
      CertFreeCertificateContext(context);
    }
    Capi::State& state = Capi::TheState();
    std::lock_guard lock(state.mutex);
    state.added.reserve(state.added.size() + contents.certificates.size());
    state.added.insert(state.added.end(), contents.certificates.begin(),
                       contents.certificates.end());
    ++state.generation;
    return S_OK;
  } catch (...) {
    return HResultOfCurrentException();
  }
}

}  // namespace Velmora::Platform
