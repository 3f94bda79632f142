// The security attributes of the crash record's shared memory.
#include "monitor/crash/sharing_memory.h"

#include <sddl.h>

namespace {
// The descriptor we build and the one SDDL gave us, whose SACL it borrows.
struct DescriptorPair {
  SECURITY_DESCRIPTOR descriptor;
  PSECURITY_DESCRIPTOR label;
};
}  // namespace

bool CreateLowIntegritySecurityAttributes(SECURITY_ATTRIBUTES* attributes) {
  auto* pair = static_cast<DescriptorPair*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DescriptorPair)));
  if (pair == nullptr) return false;
  if (!InitializeSecurityDescriptor(&pair->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&pair->descriptor, TRUE, nullptr, FALSE)) {
    HeapFree(GetProcessHeap(), 0, pair);
    return false;
  }
  // The low label lets a reporter of low integrity open the memory. Without
  // it (a system that knows no labels) the null DACL still serves the rest.
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"S:(ML;;;;;LW)", SDDL_REVISION_1, &pair->label,
                                                           nullptr)) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL sacl = nullptr;
    if (GetSecurityDescriptorSacl(pair->label, &present, &sacl, &defaulted) && present) {
      SetSecurityDescriptorSacl(&pair->descriptor, TRUE, sacl, FALSE);
    }
  }
  attributes->nLength = sizeof *attributes;
  attributes->lpSecurityDescriptor = pair;
  attributes->bInheritHandle = TRUE;
  return true;
}

void FreeLowIntegritySecurityAttributes(SECURITY_ATTRIBUTES* attributes) {
  auto* pair = static_cast<DescriptorPair*>(attributes->lpSecurityDescriptor);
  if (pair == nullptr) return;
  if (pair->label != nullptr) LocalFree(pair->label);
  HeapFree(GetProcessHeap(), 0, pair);
  attributes->lpSecurityDescriptor = nullptr;
}
