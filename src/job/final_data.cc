// The final job data: every buffer the host sends to the spooler passes here first.
#include <cstring>

#include "platform/last_error.h"
#include "src/job/unidrv_interface.h"
#include "src/support/log.h"

namespace velmora {
namespace {

char LowerAscii(std::uint8_t c) { return static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c); }

// The match rule: the first byte equals exactly, the rest equal ignoring the case of
// ASCII letters; a zero byte in the buffer never matches.
bool MatchesAt(const std::uint8_t* at, const char* key, std::int32_t length) {
  if (at[0] != static_cast<std::uint8_t>(key[0])) return false;
  for (std::int32_t i = 1; i < length; ++i) {
    if (at[i] == 0 || LowerAscii(at[i]) != LowerAscii(static_cast<std::uint8_t>(key[i]))) return false;
  }
  return true;
}

}  // namespace

void CUnidrvInterface::SetSearchKey(const char* key) {
  std::memset(m_szSearchKey, 0, sizeof m_szSearchKey);
  std::size_t length = 0;
  while (length < sizeof m_szSearchKey - 1 && key[length] != '\0') ++length;
  std::memcpy(m_szSearchKey, key, length);
  m_iSearchKeyLength = static_cast<std::int32_t>(length);
}

std::int32_t CUnidrvInterface::GetSearchKeyStringIndex(const std::uint8_t* buffer, DWORD size) {
  const std::int32_t length = m_iSearchKeyLength;
  if (buffer == nullptr || size == 0 || length <= 0 || static_cast<DWORD>(length) > size) {
    return SEARCH_KEY_STRING_NOT_FOUND;
  }
  // Jump from one occurrence of the key's first byte to the next, only where the whole
  // key still fits.
  const std::uint8_t* const last = buffer + (size - static_cast<DWORD>(length));
  const std::uint8_t* at = buffer;
  while (at <= last) {
    at = static_cast<const std::uint8_t*>(
        std::memchr(at, static_cast<std::uint8_t>(m_szSearchKey[0]), static_cast<std::size_t>(last - at) + 1));
    if (at == nullptr) break;
    if (MatchesAt(at, m_szSearchKey, length)) {
      m_bSearchKeyFound = 1;
      return static_cast<std::int32_t>(at - buffer);
    }
    ++at;
  }
  return SEARCH_KEY_STRING_NOT_FOUND;
}

std::int32_t CUnidrvInterface::ReplaceFontNameIfFound(std::uint8_t* buffer, DWORD size) {
  const std::int32_t length = m_iSearchKeyLength;
  if (buffer == nullptr || size == 0 || length <= 0 || static_cast<DWORD>(length) > size) {
    return SEARCH_KEY_STRING_NOT_FOUND;
  }
  std::uint8_t* const last = buffer + (size - static_cast<DWORD>(length));
  std::uint8_t* at = buffer;
  while (at <= last) {
    at = static_cast<std::uint8_t*>(
        std::memchr(at, static_cast<std::uint8_t>(m_szSearchKey[0]), static_cast<std::size_t>(last - at) + 1));
    if (at == nullptr) break;
    if (MatchesAt(at, m_szSearchKey, length)) {
      *at = 0x43;  // 'C': the captured font gets a name of its own
      m_bSearchKeyFound = 1;
    } else {
      m_bSearchKeyFound = 0;
    }
    ++at;
  }
  m_bSearchKeyFound = 0;
  return SEARCH_KEY_STRING_NOT_FOUND;
}

HRESULT CUnidrvInterface::ModifyFinalPrintData(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData,
                                               std::uint8_t* buffer, DWORD size) {
  // A capture that failed lost bytes of its job, which nothing can print any more: every
  // buffer of the capture job from then on fails, with the reason as the thread's last
  // error, so that the host ends the job as failed rather than as done.
  if (ModifyPCLXLPrintData(pdevobj, pVendorDM, pVendorData, buffer, size) != 0 && m_captureFailure) {
    platform::SetLastError(m_captureFailure->code);
    platform::SetLastErrorText(m_captureFailure->text);
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace velmora
