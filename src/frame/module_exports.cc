// The module's two exports. Everything else in the module stays hidden.
#include "src/frame/module.h"
#include "src/frame/plugin_object.h"

#if defined(_WIN32)
#define VELMORA_EXPORT
#else
#define VELMORA_EXPORT __attribute__((visibility("default")))
#endif

extern "C" VELMORA_EXPORT velmora::HRESULT DllGetClassObject(const velmora::GUID& clsid, const velmora::GUID& iid,
                                                             void** object) {
  return velmora::GetClassObject(clsid, iid, object);
}

extern "C" VELMORA_EXPORT velmora::HRESULT DllCanUnloadNow() { return velmora::ModuleCanUnloadNow(); }
