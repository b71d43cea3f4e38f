// The system-store provider of CertOpenStore (CERT_STORE_PROV_SYSTEM_W): see
// cert_system_store.cpp for where the stores live and how their folders are read.
#pragma once

#include <filesystem>
#include <string>

#include "platform/base/types.h"

namespace Velmora::Platform::Capi {

// Opens the system store named by the wide text `pvPara` at the location that `flags` gives
// (CERT_SYSTEM_STORE_CURRENT_USER or CERT_SYSTEM_STORE_LOCAL_MACHINE) as a memory store holding
// its certificates. A missing folder gives an empty store. Failures return null with the last
// error: E_INVALIDARG for a null name, a name that is not valid text or another location.
void* OpenSystemStore(DWORD flags, const void* pvPara);

// The folder of the system store `name` at `location` (CERT_SYSTEM_STORE_CURRENT_USER or
// CERT_SYSTEM_STORE_LOCAL_MACHINE), from the environment as it is now.
std::filesystem::path SystemStoreFolder(DWORD location, const std::wstring& name);

}  // namespace Velmora::Platform::Capi
