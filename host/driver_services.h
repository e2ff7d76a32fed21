// The host's driver-services object, which the plug-in receives through
// PublishDriverInterface: it writes into the job's spool buffer and answers the current
// option of the printer description's features.
#pragma once

#include <atomic>
#include <map>
#include <string>

#include "formats/host_interface.h"
#include "host/spool_buffer.h"

namespace velmora::host {

// Feature keyword -> option name, the host's current choice for the job.
using FeatureOptions = std::map<std::string, std::string, std::less<>>;

class HostDriverServices final : public IPrintOemDriverUni {
 public:
  // Starts with one reference, the creator's. The spool buffer must outlive every call.
  HostDriverServices(SpoolBuffer& spool, FeatureOptions options);
  // The job's options after its device mode changed (a mid-document reset).
  void SetOptions(FeatureOptions options) { options_ = std::move(options); }

  HRESULT QueryInterface(const GUID& riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // Without a buffer (or with one too small): E_FAIL, last error 122 and the needed size,
  // the option's name and its NUL. With room: the NUL-terminated 8-bit name. An unknown
  // feature: E_FAIL, last error 87.
  HRESULT DrvGetDriverSetting(void* pdriverobj, const char* feature, void* output, DWORD size, DWORD* needed,
                              DWORD* optionsReturned) override;
  // Appends to the spool buffer; *written is the count taken (0 once the job failed).
  HRESULT DrvWriteSpoolBuf(DEVOBJ* pdevobj, void* buffer, DWORD size, DWORD* written) override;

  HRESULT DrvXMoveTo(DEVOBJ*, int, DWORD, int*) override { return E_NOTIMPL; }
  HRESULT DrvYMoveTo(DEVOBJ*, int, DWORD, int*) override { return E_NOTIMPL; }
  HRESULT DrvGetStandardVariable(DEVOBJ*, DWORD, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT DrvGetGPDData(DEVOBJ*, DWORD, void*, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT DrvUniTextOut(void*, void*, void*, void*, void*, void*, void*, void*, void*, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT DrvWriteAbortBuf(DEVOBJ*, void*, DWORD, DWORD) override { return E_NOTIMPL; }

  ULONG references() const { return references_.load(); }

 private:
  ~HostDriverServices() = default;

  std::atomic<ULONG> references_{1};
  SpoolBuffer& spool_;
  FeatureOptions options_;
};

}  // namespace velmora::host
