// Hooks for the tests of the platform layer, never installed: they let a test reach failures that
// real input cannot cause. Always compiled; while no hook is set each costs one atomic load.
#pragma once

namespace Velmora::Platform::Capi::TestHooks {

// A function CertGetCertificateChain calls early inside its guard, once per call; it may throw
// anything, as a fault deep in the chain engine would. Null (the default) removes it.
using ChainEngineHook = void (*)();
void SetChainEngineHook(ChainEngineHook hook) noexcept;

// Calls the hook when one is set.
void RunChainEngineHook();

}  // namespace Velmora::Platform::Capi::TestHooks
