#include "support/oid_info.h"

#include <cstring>
#include <cwchar>

#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"

namespace Velmora::Support {
namespace {

using Platform::ALG_ID;
using Platform::BOOL;
using Platform::CRYPT_OID_INFO;
using Platform::DWORD;

struct Search {
  DWORD keyType;
  const void* key;
  const CRYPT_OID_INFO* found = nullptr;
};

bool CarriesAlgorithm(const CRYPT_OID_INFO& info) {
  return info.Algid != Platform::CALG_OID_INFO_CNG_ONLY &&
         info.Algid != Platform::CALG_OID_INFO_PARAMETERS;
}

bool Matches(const CRYPT_OID_INFO& info, DWORD keyType, const void* key) {
  switch (keyType) {
    case Platform::CRYPT_OID_INFO_OID_KEY:
      return CarriesAlgorithm(info) && info.pszOID != nullptr &&
             std::strcmp(info.pszOID, static_cast<const char*>(key)) == 0;
    case Platform::CRYPT_OID_INFO_NAME_KEY:
      return CarriesAlgorithm(info) && info.pwszName != nullptr &&
             std::wcscmp(info.pwszName, static_cast<const wchar_t*>(key)) == 0;
    case Platform::CRYPT_OID_INFO_ALGID_KEY:
      return info.Algid == *static_cast<const ALG_ID*>(key);
    case Platform::CRYPT_OID_INFO_SIGN_KEY: {
      const auto* algs = static_cast<const ALG_ID*>(key);
      if (info.Algid != algs[0] || info.ExtraInfo.cbData < sizeof(ALG_ID) ||
          info.ExtraInfo.pbData == nullptr) {
        return false;
      }
      ALG_ID first = 0;
      std::memcpy(&first, info.ExtraInfo.pbData, sizeof first);
      return first == algs[1];
    }
    default:
      return false;
  }
}

BOOL Visit(const CRYPT_OID_INFO* info, void* arg) {
  auto* search = static_cast<Search*>(arg);
  if (Matches(*info, search->keyType, search->key)) {
    search->found = info;
    return Platform::FALSE;  // stop: the first match in the registry's order wins
  }
  return Platform::TRUE;
}

}  // namespace

const Platform::CRYPT_OID_INFO* FindOIDInfo(DWORD keyType, const void* key, DWORD groupId) {
  if ((keyType & Platform::CRYPT_OID_PREFER_CNG_ALGID_FLAG) != 0) {
    return Platform::CryptFindOIDInfo(keyType, key, groupId);
  }
  if (key == nullptr) {
    Platform::SetLastError(Platform::ERROR_BAD_ARGUMENTS);
    return nullptr;
  }
  if (keyType < Platform::CRYPT_OID_INFO_OID_KEY || keyType > Platform::CRYPT_OID_INFO_SIGN_KEY) {
    return Platform::CryptFindOIDInfo(keyType, key, groupId);
  }
  Platform::SetLastError(Platform::ERROR_SUCCESS);
  Search search{keyType, key};
  Platform::CryptEnumOIDInfo(groupId & 0xFFFF, 0, &search, &Visit);
  if (search.found != nullptr) {
    return search.found;
  }
  if (Platform::GetLastError() == Platform::ERROR_SUCCESS) {
    Platform::SetLastError(static_cast<DWORD>(keyType == Platform::CRYPT_OID_INFO_ALGID_KEY
                                                  ? Platform::NTE_BAD_ALGID
                                                  : Platform::CRYPT_E_NOT_FOUND));
  }
  return nullptr;
}

}  // namespace Velmora::Support
