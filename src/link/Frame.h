// The product link's frame: a 16-bit length (the whole frame, itself and the CRC included), a
// payload of records and the CRC over everything before it. Numbers are little-endian. The
// request and reply records are built and taken apart here for both ends of the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/Globals.h"

namespace tarvex {

// Length field and CRC around the payload.
inline constexpr std::size_t kFrameEnvelopeSize = 4;
// The length field is 16 bits wide.
inline constexpr std::size_t kMaxFrameSize = 0xFFFF;
// Header of a request or reply record: four 16-bit words.
inline constexpr std::size_t kLinkRecordHeaderSize = 8;

// Reply codes with a meaning of their own.
inline constexpr std::uint16_t kReplyCodeError = 99;
inline constexpr std::uint16_t kReplyCodeNotReady = 6401;

// Error numbers carried by an error record.
inline constexpr std::uint16_t kLinkErrMessageLength = 2;
inline constexpr std::uint16_t kLinkErrTryOtherCode = 3;
inline constexpr std::uint16_t kLinkErrAccessDenied = 4;
inline constexpr std::uint16_t kLinkErrNotSupported = 5;

// Parameter and command addresses of the requests the programmer makes.
inline constexpr std::uint16_t kParamAccess = 1;
inline constexpr std::uint16_t kParamIdentity = 2;
inline constexpr std::uint16_t kParamBootloader = 13;
inline constexpr std::uint16_t kParamSerialNo = 610;
inline constexpr std::uint16_t kParamNvmLock = 3140;

// Puts the length in front and the CRC behind the payload. False, and the buffer untouched, when
// it is empty or too long for the 16-bit length field.
bool FrameAddCrc(ByteString& buffer);
// Checks the CRC of a whole frame; when it matches, strips the length and CRC, leaving the
// payload, and returns true. False, and the frame untouched, for a bad CRC or a frame too short to
// hold a length and a CRC.
bool FrameCheckCrc(ByteString& frame);

// The 16-bit number at a position (which must leave two bytes), and appending one.
std::uint16_t GetLinkWord(const ByteString& s, std::size_t at);
void PutLinkWord(ByteString& s, std::uint16_t v);

// One request record: parameter address, first element, element count, data.
struct TLinkRequest {
  std::uint16_t ParamAddress = 0;
  std::uint16_t IDStart = 0;
  std::uint16_t IDLength = 0;
  ByteString Data;
};

// One reply record: reply code, a word the programmer does not read, ID length, data.
struct TLinkReply {
  std::uint16_t Code = 0;
  std::uint16_t Spare = 0;
  std::uint16_t IDLength = 0;
  ByteString Data;
};

// Append one record; false (nothing appended) when the data do not fit the 16-bit length.
bool EncodeLinkRequest(ByteString& payload, const TLinkRequest& rec);
bool EncodeLinkReply(ByteString& payload, const TLinkReply& rec);
// An error record answering a request.
TLinkReply LinkErrorReply(std::uint16_t errorNumber);

// Splits a payload into records. Empty when a record's header or data runs past the end of the
// payload; a single byte left after the last record is no record and is passed over.
std::optional<std::vector<TLinkRequest>> DecodeLinkRequests(const ByteString& payload);
std::optional<std::vector<TLinkReply>> DecodeLinkReplies(const ByteString& payload);

}  // namespace tarvex
