// A stand-in for the host's driver-services interface: it collects what the plug-in
// writes and answers option queries from a table, the way the host does.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "formats/host_interface.h"
#include "platform/last_error.h"

namespace velmora::testing {

class FakeDriverServices : public IPrintOemDriverUni {
 public:
  // Bytes written through DrvWriteSpoolBuf, in order.
  std::vector<std::uint8_t> written;
  // Each DrvWriteSpoolBuf call's bytes, to check how commands were split.
  std::vector<std::vector<std::uint8_t>> writes;
  // The current option of each feature keyword; a missing keyword is unknown to the host.
  std::map<std::string, std::string> options;
  // When set, DrvWriteSpoolBuf reports this many bytes fewer than asked.
  DWORD shortBy = 0;
  // The result DrvWriteSpoolBuf answers.
  HRESULT writeResult = S_OK;

  std::string WrittenText() const { return std::string(written.begin(), written.end()); }

  HRESULT QueryInterface(const GUID& riid, void** ppv) override {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IPrintOemDriverUni)) {
      *ppv = static_cast<IPrintOemDriverUni*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }

  HRESULT DrvGetDriverSetting(void*, const char* feature, void* output, DWORD size, DWORD* needed,
                              DWORD* optionsReturned) override {
    auto it = options.find(feature);
    if (it == options.end()) {
      platform::SetLastError(87);
      return E_FAIL;
    }
    const DWORD required = static_cast<DWORD>(it->second.size() + 1);
    *needed = required;
    if (optionsReturned != nullptr) *optionsReturned = 1;
    if (output == nullptr || size < required) {
      platform::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return E_FAIL;
    }
    std::memcpy(output, it->second.c_str(), required);
    return S_OK;
  }

  HRESULT DrvWriteSpoolBuf(DEVOBJ*, void* buffer, DWORD size, DWORD* result) override {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    written.insert(written.end(), bytes, bytes + size);
    writes.emplace_back(bytes, bytes + size);
    *result = size >= shortBy ? size - shortBy : 0;
    return writeResult;
  }

  HRESULT DrvXMoveTo(DEVOBJ*, int, DWORD, int*) override { return E_NOTIMPL; }
  HRESULT DrvYMoveTo(DEVOBJ*, int, DWORD, int*) override { return E_NOTIMPL; }
  HRESULT DrvGetStandardVariable(DEVOBJ*, DWORD, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT DrvGetGPDData(DEVOBJ*, DWORD, void*, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT DrvUniTextOut(void*, void*, void*, void*, void*, void*, void*, void*, void*, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT DrvWriteAbortBuf(DEVOBJ*, void*, DWORD, DWORD) override { return E_NOTIMPL; }
};

}  // namespace velmora::testing
