// The loadable module through its two exports, as the host loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "formats/host_interface.h"

namespace velmora {
namespace {

class Module : public ::testing::Test {
 protected:
  void SetUp() override {
    handle = dlopen(VELMORA_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    getClassObject = reinterpret_cast<PFN_DllGetClassObject>(dlsym(handle, "DllGetClassObject"));
    canUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(handle, "DllCanUnloadNow"));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
  }
  void TearDown() override {
    if (handle != nullptr) dlclose(handle);
  }
  IClassFactory* Factory() {
    void* object = nullptr;
    EXPECT_EQ(getClassObject(CLSID_OEMRENDER, IID_IClassFactory, &object), S_OK);
    return static_cast<IClassFactory*>(object);
  }
  void* handle = nullptr;
  PFN_DllGetClassObject getClassObject = nullptr;
  PFN_DllCanUnloadNow canUnloadNow = nullptr;
};

TEST_F(Module, ClassObjectRequests) {
  struct Case {
    const GUID* clsid;
    const GUID* iid;
    HRESULT expected;
  };
  const GUID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
  const Case cases[] = {
      {&CLSID_OEMRENDER, &IID_IClassFactory, S_OK},
      {&CLSID_OEMRENDER, &IID_IUnknown, S_OK},
      {&CLSID_OEMRENDER, &IID_IPrintOemUni3, E_NOINTERFACE},
      {&other, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
  };
  for (const auto& c : cases) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(*c.clsid, *c.iid, &object), c.expected);
    if (c.expected == S_OK) {
      ASSERT_NE(object, nullptr);
      EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 0u);  // the caller held the only reference
    } else {
      EXPECT_EQ(object, nullptr);
    }
  }
  EXPECT_EQ(getClassObject(CLSID_OEMRENDER, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(Module, CreateInstanceAndUnloading) {
  IClassFactory* factory = Factory();
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(canUnloadNow(), S_OK);  // the refused object is destroyed again
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IPrintOemUni3, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUni3, nullptr), E_POINTER);

  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUni3, &object), S_OK);
  auto* plugin = static_cast<IPrintOemUni3*>(object);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  EXPECT_EQ(plugin->Release(), 0u);
  // Once the plug-in object is gone the module may be unloaded again.
  EXPECT_EQ(canUnloadNow(), S_OK);

  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(0), S_OK);
  EXPECT_EQ(canUnloadNow(), S_OK);
  factory->Release();
}

}  // namespace
}  // namespace velmora
