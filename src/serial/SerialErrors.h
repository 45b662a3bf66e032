// Result codes of the serial layer, the exceptions they become at the component's boundary, and
// their messages. Inside the layer every operation returns an integer: 0 or a positive count for
// success, a negative code for failure (a failed system call gives minus its error number).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tarvex {

// Codes the layer itself produces (the families of thousands).
inline constexpr int ecOK = 0;
inline constexpr int ecBadHandle = -1001;
inline constexpr int ecBadArgument = -1002;
inline constexpr int ecGotQuitMsg = -1003;
inline constexpr int ecBufferTooBig = -1004;
inline constexpr int ecPortNotAssigned = -1005;
inline constexpr int ecInternal = -1006;
inline constexpr int ecModemNotAssigned = -1007;
inline constexpr int ecPhonebookNotAssigned = -1008;
inline constexpr int ecCannotUseWithWinSock = -1009;
inline constexpr int ecBadId = -2001;
inline constexpr int ecBaudRate = -2002;
inline constexpr int ecByteSize = -2003;
inline constexpr int ecDefault = -2004;
inline constexpr int ecHardware = -2005;
inline constexpr int ecMemory = -2006;
inline constexpr int ecCommNotOpen = -2007;
inline constexpr int ecAlreadyOpen = -2008;
inline constexpr int ecNoHandles = -2009;
inline constexpr int ecNoTimers = -2010;
inline constexpr int ecNoPortSelected = -2011;
inline constexpr int ecNotOpenedByTapi = -2012;
inline constexpr int ecPermissionDenied = -2013;  // the user may not open the device
inline constexpr int ecNullApi = -3001;
inline constexpr int ecNotSupported = -3002;
inline constexpr int ecRegisterHandlerFailed = -3003;
inline constexpr int ecPutBlockFail = -3004;
inline constexpr int ecGetBlockFail = -3005;
inline constexpr int ecOutputBufferTooSmall = -3006;
inline constexpr int ecBufferIsEmpty = -3007;
inline constexpr int ecTracingNotEnabled = -3008;
inline constexpr int ecLoggingNotEnabled = -3009;
inline constexpr int ecBaseAddressNotSet = -3010;
inline constexpr int ecNoMoreTriggers = -5001;
inline constexpr int ecTriggerTooLong = -5002;
inline constexpr int ecBadTriggerHandle = -5003;
inline constexpr int ecDeviceWrite = -160;  // a worker thread's write-side failure
inline constexpr int ecDeviceRead = -161;   // a worker thread's read-side failure
inline constexpr int ecTapiNoMem = -13868;  // a worker thread could not get a buffer
// A system error without a meaning of the layer's own, told with the system's own text: the
// code is kSystemErrorBase minus the system's error number.
inline constexpr int kSystemErrorBase = -20000;
inline constexpr int kSystemErrorLast = -24095;
inline constexpr int SystemErrorCode(int systemError) {
  return kSystemErrorBase - systemError;
}

// Root of the layer's exceptions. ErrorCode is the (negative) code it was made for, 0 for the
// fallback.
class ESerialException : public std::runtime_error {
 public:
  explicit ESerialException(int code);  // message: SerialErrorText(|code|)
  ESerialException(const std::string& message, int code) : std::runtime_error(message), FErrorCode(code) {}
  // The fallback: ErrorCode 0 with the given message.
  static ESerialException CreateUnknown(const std::string& message) { return {message, 0}; }
  [[nodiscard]] int ErrorCode() const { return FErrorCode; }
  [[nodiscard]] static int MapCodeToStringID(int code) { return code < 0 ? -code : code; }

 private:
  int FErrorCode;
};

#define TARVEX_SERIAL_EXCEPTION(Name, Base) \
  class Name : public Base {                \
   public:                                  \
    explicit Name(int code) : Base(code) {} \
  }

// The ten groups.
TARVEX_SERIAL_EXCEPTION(EGeneral, ESerialException);
TARVEX_SERIAL_EXCEPTION(EOpenComm, ESerialException);
TARVEX_SERIAL_EXCEPTION(ESerialIO, ESerialException);
TARVEX_SERIAL_EXCEPTION(EModem, ESerialException);
TARVEX_SERIAL_EXCEPTION(ETrigger, ESerialException);
TARVEX_SERIAL_EXCEPTION(EProtocol, ESerialException);
TARVEX_SERIAL_EXCEPTION(EINI, ESerialException);
TARVEX_SERIAL_EXCEPTION(EFax, ESerialException);
TARVEX_SERIAL_EXCEPTION(ETapi, ESerialException);
TARVEX_SERIAL_EXCEPTION(ERas, ESerialException);

TARVEX_SERIAL_EXCEPTION(EBadArgument, EGeneral);
TARVEX_SERIAL_EXCEPTION(EGotQuitMsg, EGeneral);
TARVEX_SERIAL_EXCEPTION(EBufferTooBig, EGeneral);
TARVEX_SERIAL_EXCEPTION(EPortNotAssigned, EGeneral);
TARVEX_SERIAL_EXCEPTION(EInternal, EGeneral);
TARVEX_SERIAL_EXCEPTION(EModemNotAssigned, EGeneral);
TARVEX_SERIAL_EXCEPTION(EPhonebookNotAssigned, EGeneral);
TARVEX_SERIAL_EXCEPTION(ECannotUseWithWinSock, EGeneral);

TARVEX_SERIAL_EXCEPTION(EBadId, EOpenComm);
TARVEX_SERIAL_EXCEPTION(EBaudRate, EOpenComm);
TARVEX_SERIAL_EXCEPTION(EByteSize, EOpenComm);
TARVEX_SERIAL_EXCEPTION(EDefault, EOpenComm);
TARVEX_SERIAL_EXCEPTION(EHardware, EOpenComm);
TARVEX_SERIAL_EXCEPTION(EMemory, EOpenComm);
TARVEX_SERIAL_EXCEPTION(ECommNotOpen, EOpenComm);
TARVEX_SERIAL_EXCEPTION(EAlreadyOpen, EOpenComm);
TARVEX_SERIAL_EXCEPTION(ENoHandles, EOpenComm);
TARVEX_SERIAL_EXCEPTION(ENoTimers, EOpenComm);
TARVEX_SERIAL_EXCEPTION(ENoPortSelected, EOpenComm);
TARVEX_SERIAL_EXCEPTION(ENotOpenedByTapi, EOpenComm);
TARVEX_SERIAL_EXCEPTION(EPermissionDenied, EOpenComm);
// A device's failure the layer has no word for, told in the system's own words.
TARVEX_SERIAL_EXCEPTION(EDeviceError, EOpenComm);

TARVEX_SERIAL_EXCEPTION(ENullApi, ESerialIO);
TARVEX_SERIAL_EXCEPTION(ERegisterHandlerFailed, ESerialIO);
TARVEX_SERIAL_EXCEPTION(EPutBlockFail, ESerialIO);
TARVEX_SERIAL_EXCEPTION(EGetBlockFail, ESerialIO);
TARVEX_SERIAL_EXCEPTION(EOutputBufferTooSmall, ESerialIO);
TARVEX_SERIAL_EXCEPTION(EBufferIsEmpty, ESerialIO);
TARVEX_SERIAL_EXCEPTION(ETracingNotEnabled, ESerialIO);
TARVEX_SERIAL_EXCEPTION(ELoggingNotEnabled, ESerialIO);
TARVEX_SERIAL_EXCEPTION(EBaseAddressNotSet, ESerialIO);

TARVEX_SERIAL_EXCEPTION(ENoMoreTriggers, ETrigger);
TARVEX_SERIAL_EXCEPTION(ETriggerTooLong, ETrigger);
TARVEX_SERIAL_EXCEPTION(EBadTriggerHandle, ETrigger);

// The modem, file-transfer, settings-database, fax and dial-up leaves are raised as their group;
// this one is what a worker thread's "No memory" turns into.
TARVEX_SERIAL_EXCEPTION(ETapiNoMem, ETapi);

#undef TARVEX_SERIAL_EXCEPTION

// A failed system or file operation in the range -2 to -162; ErrorCode is positive (5 for -5).
class EInOutError : public std::runtime_error {
 public:
  EInOutError(const std::string& message, int errorCode)
      : std::runtime_error(message), FErrorCode(errorCode) {}
  [[nodiscard]] int ErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode;
};

inline constexpr const char* kFallbackSerialMessage = "Vuno exception";

// Returns code when it is 0 or positive, or while the component is still being loaded;
// otherwise throws the exception the code maps to (-8 throws std::bad_alloc).
int RaiseSerialError(int code, bool componentLoading = false);

// The message of a code (taken as its absolute value), at most 255 characters: the layer's
// table, else the platform's own text for that error number, else empty.
std::string SerialErrorText(std::int64_t code);

// The system's own words for one of its error numbers (errno, or a Windows error code) on one
// line, at most 255 characters; empty when it has none.
std::string SystemErrorText(std::int64_t number);
// Control characters made blanks, runs of blanks made one, at most 255 characters.
std::string OneLineMessage(std::string text);

struct TSerialMessageEntry {
  std::int32_t Code;
  const char* Text;
};
// The message table, sorted by the absolute value of the code.
const TSerialMessageEntry* SerialMessageTable(std::size_t& count);

}  // namespace tarvex
