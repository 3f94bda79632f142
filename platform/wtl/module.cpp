// The window module's two instance slots.
#include "platform/wtl/module.h"

namespace wtl {
namespace {
HINSTANCE g_module = nullptr;
HINSTANCE volatile g_resources = nullptr;
}  // namespace

void InitModule(HINSTANCE instance) {
  g_module = instance;
  if (g_resources == nullptr) g_resources = instance;
}

HINSTANCE ModuleInstance() { return g_module != nullptr ? g_module : GetModuleHandleW(nullptr); }

HINSTANCE ResourceInstance() { return g_resources != nullptr ? g_resources : ModuleInstance(); }

HINSTANCE SetResourceInstance(HINSTANCE instance) {
  return static_cast<HINSTANCE>(
      InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&g_resources), instance));
}

}  // namespace wtl
