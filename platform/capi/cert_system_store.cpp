// System certificate stores ("My", "Root", "AddressBook" ...) as folders of certificate files:
// $XDG_DATA_HOME/velmora/certstores/<Name>/ for the current user ($XDG_DATA_HOME defaults to
// ~/.local/share) and /etc/velmora/certstores/<Name>/ for the machine, the latter under
// $VELMORA_ROOT when that is set. Each regular file holds one certificate, PEM or DER; a file
// that holds none is skipped, as a store skips what it cannot read. A private key file beside a
// certificate (same base name, ".key") is the certificate's key provider information: its path
// goes into pwszContainerName.
//
// The store is read when it is opened, into a memory store; later changes of the folder are not
// seen, and nothing is ever written back.
#include "platform/capi/cert_system_store.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/capi/cert_bundle_file.h"
#include "platform/capi/wincrypt.h"
#include "platform/errors/guard.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/text/convert.h"

namespace Velmora::Platform::Capi {

namespace {

namespace fs = std::filesystem;

// Files above this size are not certificates; they are skipped unread.
constexpr std::uintmax_t kMaxCertificateFile = 1u << 20;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

fs::path SystemStoreFolder(DWORD location, const std::wstring& name) {
  const fs::path leaf = fs::path("velmora") / "certstores" / fs::path(WideToUtf8(name));
  if (location == CERT_SYSTEM_STORE_LOCAL_MACHINE) {
    return fs::path(Env("VELMORA_ROOT") + "/etc") / leaf;
  }
  std::string data = Env("XDG_DATA_HOME");
  if (data.empty()) {
    data = Env("HOME") + "/.local/share";
  }
  return fs::path(data) / leaf;
}

namespace {

// The DER certificate of a file: the first PEM CERTIFICATE block, else the whole file.
std::vector<BYTE> CertificateBytes(const std::vector<BYTE>& file) {
  for (BundleObject& object : ReadBundleObjects(file)) {
    if (object.pemType == "CERTIFICATE") {
      return std::move(object.der);
    }
  }
  return file;
}

// Adds the certificate of one file, with its key link when a key file lies beside it.
void AddFile(HCERTSTORE store, const fs::path& path) {
  std::vector<BYTE> file;
  if (ReadBundleFile(path, kMaxCertificateFile, file)) {
    return;
  }
  const std::vector<BYTE> der = CertificateBytes(file);
  PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                        der.data(), static_cast<DWORD>(der.size()));
  if (context == nullptr) {
    return;
  }
  fs::path key = path;
  key.replace_extension(".key");
  std::error_code error;
  if (key != path && fs::is_regular_file(key, error)) {
    std::wstring container = Utf8ToWide(key.string());
    std::wstring provider = L"Velmora OpenSSL Key File";
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container.data();
    info.pwszProvName = provider.data();
    info.dwKeySpec = 1;  // AT_KEYEXCHANGE
    CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
  }
  CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_USE_EXISTING, nullptr);
  CertFreeCertificateContext(context);
}

}  // namespace

void* OpenSystemStore(DWORD flags, const void* pvPara) {
  if (pvPara == nullptr) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  const DWORD location = flags & 0x00FF0000;
  if (location != CERT_SYSTEM_STORE_CURRENT_USER && location != CERT_SYSTEM_STORE_LOCAL_MACHINE) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  std::wstring name;
  try {
    name = static_cast<const wchar_t*>(pvPara);
    const fs::path folder = SystemStoreFolder(location, name);
    // A folder that does not exist is an empty store, as a user's "My" store with nothing in it.
    std::error_code error;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (store == nullptr) {
      return nullptr;
    }
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      if (it->is_regular_file(error) && it->path().extension() != ".key") {
        files.push_back(it->path());
      }
    }
    std::sort(files.begin(), files.end());  // a stable order, whatever the file system's
    for (const fs::path& path : files) {
      AddFile(store, path);
    }
    return store;
  } catch (const CAtlException&) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));  // a store name that is not valid text
  } catch (...) {
    SetLastError(static_cast<DWORD>(HResultOfCurrentException()));
  }
  return nullptr;
}

}  // namespace Velmora::Platform::Capi
