// The host's driver-services object: spool-buffer writes and feature options for the plug-in.
#include "host/driver_services.h"

#include <cstring>

#include "platform/last_error.h"

namespace velmora::host {

HostDriverServices::HostDriverServices(SpoolBuffer& spool, FeatureOptions options)
    : spool_(spool), options_(std::move(options)) {}

HRESULT HostDriverServices::QueryInterface(const GUID& riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IPrintOemDriverUni)) {
    *ppv = static_cast<IPrintOemDriverUni*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG HostDriverServices::AddRef() { return ++references_; }

ULONG HostDriverServices::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT HostDriverServices::DrvGetDriverSetting(void*, const char* feature, void* output, DWORD size, DWORD* needed,
                                                DWORD* optionsReturned) {
  if (feature == nullptr || needed == nullptr) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return E_FAIL;
  }
  auto it = options_.find(std::string_view(feature));
  if (it == options_.end()) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
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

HRESULT HostDriverServices::DrvWriteSpoolBuf(DEVOBJ*, void* buffer, DWORD size, DWORD* written) {
  if (written != nullptr) *written = 0;
  if (buffer == nullptr && size != 0) return E_POINTER;
  if (!spool_.Append(buffer, size)) return E_FAIL;
  if (written != nullptr) *written = size;
  return S_OK;
}

}  // namespace velmora::host
