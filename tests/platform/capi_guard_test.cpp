// The chain engine's guard: whatever is thrown inside CertGetCertificateChain comes out as FALSE
// and the thread's last error, never as an exception into the caller.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "platform/capi/test_hooks.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "tests/common/test_ca.h"

namespace P = Velmora::Platform;
namespace Hooks = Velmora::Platform::Capi::TestHooks;
using namespace Velmora::Testing;

namespace {

TEST(CapiGuard, WhateverTheEngineThrowsBecomesTheLastError) {
  const Authority root = MakeRoot("Guard Root");
  const struct {
    const char* thrown;
    Hooks::ChainEngineHook hook;
    P::HRESULT expected;
  } cases[] = {
      {"std::runtime_error", [] { throw std::runtime_error("engine fault"); }, P::E_UNEXPECTED},
      {"int", [] { throw 7; }, P::E_UNEXPECTED},
      {"std::bad_alloc", [] { throw std::bad_alloc(); }, P::E_OUTOFMEMORY},
      {"CAtlException", [] { P::AtlThrow(P::CRYPT_E_NOT_FOUND); }, P::CRYPT_E_NOT_FOUND},
      {"CAtlException(0)", [] { P::AtlThrow(0); }, P::E_FAIL},
      {"nothing", nullptr, 0},
  };
  P::CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  for (const auto& c : cases) {
    Hooks::SetChainEngineHook(c.hook);
    P::SetLastError(0);
    P::PCCERT_CHAIN_CONTEXT chain = nullptr;
    const P::BOOL built = P::CertGetCertificateChain(nullptr, root.cert.context().get(), nullptr,
                                                     nullptr, &parameters, 0, nullptr, &chain);
    Hooks::SetChainEngineHook(nullptr);
    EXPECT_EQ(built != P::FALSE, c.expected == 0) << c.thrown;
    EXPECT_EQ(chain != nullptr, c.expected == 0) << c.thrown;
    if (c.expected != 0) {
      EXPECT_EQ(P::GetLastError(), static_cast<P::DWORD>(c.expected)) << c.thrown;
    } else {
      P::CertFreeCertificateChain(chain);
    }
  }
}

}  // namespace
