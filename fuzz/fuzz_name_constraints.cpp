// Name constraints and general names as the chain engine decodes and matches them: the input as
// a nameConstraints value and as a subjectAltName value; every decoded name is matched against
// every decoded subtree, and a DNS name lies within its own subtree.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_harness.h"
#include "platform/capi/name_constraints.h"

namespace C = Velmora::Platform::Capi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  std::vector<C::GeneralName> names;
  std::vector<C::GeneralSubtree> subtrees;
  FuzzHarness::Run([&] { names = C::DecodeGeneralNames(input); });
  FuzzHarness::Run([&] {
    C::NameConstraints constraints = C::DecodeNameConstraints(input);
    subtrees = std::move(constraints.permitted);
    subtrees.insert(subtrees.end(), constraints.excluded.begin(), constraints.excluded.end());
  });
  for (const C::GeneralName& name : names) {
    for (const C::GeneralSubtree& subtree : subtrees) {
      FuzzHarness::Run([&] { C::NameWithinSubtree(name, subtree.base); });
    }
    if (name.form == C::NameForm::Dns && (name.value.empty() || name.value[0] != '.') &&
        !C::NameWithinSubtree(name, name)) {
      __builtin_trap();
    }
  }
  return 0;
}
