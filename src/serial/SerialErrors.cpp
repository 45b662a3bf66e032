#include "serial/SerialErrors.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

namespace tarvex {

namespace {

constexpr std::size_t kMaxMessage = 255;

}  // namespace

std::string OneLineMessage(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  }
  std::string folded;
  folded.reserve(text.size());
  for (char c : text) {
    if (c == ' ' && (folded.empty() || folded.back() == ' ')) continue;
    folded.push_back(c);
  }
  while (!folded.empty() && folded.back() == ' ') folded.pop_back();
  if (folded.size() > kMaxMessage) folded.resize(kMaxMessage);
  return folded;
}

namespace {

[[noreturn]] void RaiseMapped(int code) {
  switch (code) {
    case -1002: throw EBadArgument(code);
    case -1003: throw EGotQuitMsg(code);
    case -1004: throw EBufferTooBig(code);
    case -1005: throw EPortNotAssigned(code);
    case -1006:
    case -7003:
    case -7006:
    case -7012: throw EInternal(code);
    case -1007: throw EModemNotAssigned(code);
    case -1008: throw EPhonebookNotAssigned(code);
    case -1009: throw ECannotUseWithWinSock(code);
    case -2001: throw EBadId(code);
    case -2002: throw EBaudRate(code);
    case -2003: throw EByteSize(code);
    case -2004: throw EDefault(code);
    case -2005: throw EHardware(code);
    case -2006: throw EMemory(code);
    case -2007: throw ECommNotOpen(code);
    case -2008: throw EAlreadyOpen(code);
    case -2009: throw ENoHandles(code);
    case -2010: throw ENoTimers(code);
    case -2011: throw ENoPortSelected(code);
    case -2012: throw ENotOpenedByTapi(code);
    case -2013: throw EPermissionDenied(code);
    case -3001: throw ENullApi(code);
    case -3003: throw ERegisterHandlerFailed(code);
    case -3004: throw EPutBlockFail(code);
    case -3005: throw EGetBlockFail(code);
    case -3006: throw EOutputBufferTooSmall(code);
    case -3007: throw EBufferIsEmpty(code);
    case -3008: throw ETracingNotEnabled(code);
    case -3009: throw ELoggingNotEnabled(code);
    case -3010: throw EBaseAddressNotSet(code);
    case -5001: throw ENoMoreTriggers(code);
    case -5002: throw ETriggerTooLong(code);
    case -5003: throw EBadTriggerHandle(code);
    case -6006:
    case -6008:
    case -6009: throw EProtocol(code);
    case -7001:
    case -7002:
    case -7004:
    case -7005:
    case -7007:
    case -7008:
    case -7010:
    case -7011:
    case -7013:
    case -7014: throw EINI(code);
    case -13868: throw ETapiNoMem(code);
    case -13980: throw ERas(code);
    default: break;
  }
  if (code <= kSystemErrorBase - 1 && code >= kSystemErrorLast) throw EDeviceError(code);
  if (code <= -4001 && code >= -4008) throw EModem(code);
  if ((code <= -8001 && code >= -8005) || code == -8053 || (code <= -8060 && code >= -8070)) {
    throw EFax(code);
  }
  const bool tapiRun = code <= -13801 && code >= -13886 && code != -13804 && code != -13849;
  const bool tapiTail =
      (code <= -13928 && code >= -13932) || code == -13935 || code == -13936 || code == -13942;
  if (tapiRun || tapiTail) throw ETapi(code);
  if (code <= -2 && code >= -162) {
    if (code == -8) throw std::bad_alloc();
    throw EInOutError(SerialErrorText(-code), -code);
  }
  throw ESerialException::CreateUnknown(kFallbackSerialMessage);
}

}  // namespace

ESerialException::ESerialException(int code) : std::runtime_error(SerialErrorText(code)), FErrorCode(code) {}

std::string SerialErrorText(std::int64_t code) {
  const std::int64_t key = code < 0 ? -code : code;
  if (key > -kSystemErrorBase && key <= -kSystemErrorLast) {
    const std::string system = SystemErrorText(key + kSystemErrorBase);
    std::string text = "Serial device error: " +
                       (system.empty() ? "error " + std::to_string(key + kSystemErrorBase) : system);
    if (text.size() > kMaxMessage) text.resize(kMaxMessage);
    return text;
  }
  std::size_t count = 0;
  const TSerialMessageEntry* table = SerialMessageTable(count);
  std::size_t lo = 0;
  std::size_t hi = count;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    const std::int64_t c = table[mid].Code;
    const std::int64_t a = c < 0 ? -c : c;
    if (a == key) {
      std::string text = table[mid].Text;
      if (text.size() > kMaxMessage) text.resize(kMaxMessage);
      return text;
    }
    if (a < key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return SystemErrorText(key);
}

int RaiseSerialError(int code, bool componentLoading) {
  if (code >= 0 || componentLoading) return code;
  RaiseMapped(code);
}

}  // namespace tarvex
