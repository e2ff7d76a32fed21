// The module's counters and its two exports.
#include "src/frame/module.h"

#include <atomic>

#include "src/frame/plugin_object.h"

namespace velmora {
namespace {

std::atomic<LONG> objectCount{0};
std::atomic<LONG> lockCount{0};

}  // namespace

void ModuleObjectCreated() { ++objectCount; }
void ModuleObjectDestroyed() { --objectCount; }
void ModuleLock(bool lock) {
  if (lock) {
    ++lockCount;
  } else {
    --lockCount;
  }
}
HRESULT ModuleCanUnloadNow() { return objectCount.load() == 0 && lockCount.load() == 0 ? S_OK : S_FALSE; }

}  // namespace velmora
