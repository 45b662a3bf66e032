#include "link/Frame.h"

#include <utility>

#include "link/Crc.h"

namespace tarvex {

bool FrameAddCrc(ByteString& buffer) {
  if (buffer.empty() || buffer.size() > kMaxFrameSize - kFrameEnvelopeSize) return false;
  ByteString frame;
  frame.reserve(buffer.size() + kFrameEnvelopeSize);
  PutLinkWord(frame, static_cast<std::uint16_t>(buffer.size() + kFrameEnvelopeSize));
  frame += buffer;
  PutLinkWord(frame, FrameCrc(frame));
  buffer = std::move(frame);
  return true;
}

bool FrameCheckCrc(ByteString& frame) {
  if (frame.size() < kFrameEnvelopeSize) return false;
  const std::size_t body = frame.size() - 2;
  if (FrameCrc(std::string_view(frame).substr(0, body)) != GetLinkWord(frame, body)) return false;
  frame = frame.substr(2, body - 2);
  return true;
}

std::uint16_t GetLinkWord(const ByteString& s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(s[at]) |
                                    (static_cast<std::uint8_t>(s[at + 1]) << 8));
}

void PutLinkWord(ByteString& s, std::uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}

namespace {

bool AppendRecord(ByteString& payload, std::uint16_t w0, std::uint16_t w1, std::uint16_t w2,
                  const ByteString& data) {
  if (data.size() > 0xFFFF) return false;
  PutLinkWord(payload, w0);
  PutLinkWord(payload, w1);
  PutLinkWord(payload, w2);
  PutLinkWord(payload, static_cast<std::uint16_t>(data.size()));
  payload += data;
  return true;
}

// Walks the records of a payload, handing each header's words and data to add.
template <typename Add>
bool WalkRecords(const ByteString& payload, Add add) {
  std::size_t pos = 0;
  while (payload.size() - pos >= 2) {
    if (payload.size() - pos < kLinkRecordHeaderSize) return false;
    const std::size_t n = GetLinkWord(payload, pos + 6);
    if (payload.size() - pos - kLinkRecordHeaderSize < n) return false;
    add(GetLinkWord(payload, pos), GetLinkWord(payload, pos + 2), GetLinkWord(payload, pos + 4),
        payload.substr(pos + kLinkRecordHeaderSize, n));
    pos += kLinkRecordHeaderSize + n;
  }
  return true;
}

}  // namespace

bool EncodeLinkRequest(ByteString& payload, const TLinkRequest& rec) {
  return AppendRecord(payload, rec.ParamAddress, rec.IDStart, rec.IDLength, rec.Data);
}

bool EncodeLinkReply(ByteString& payload, const TLinkReply& rec) {
  return AppendRecord(payload, rec.Code, rec.Spare, rec.IDLength, rec.Data);
}

TLinkReply LinkErrorReply(std::uint16_t errorNumber) {
  TLinkReply r;
  r.Code = kReplyCodeError;
  r.IDLength = 1;
  PutLinkWord(r.Data, errorNumber);
  return r;
}

std::optional<std::vector<TLinkRequest>> DecodeLinkRequests(const ByteString& payload) {
  std::vector<TLinkRequest> out;
  const bool ok = WalkRecords(payload, [&](std::uint16_t a, std::uint16_t b, std::uint16_t c, ByteString d) {
    out.push_back(TLinkRequest{a, b, c, std::move(d)});
  });
  if (!ok) return std::nullopt;
  return out;
}

std::optional<std::vector<TLinkReply>> DecodeLinkReplies(const ByteString& payload) {
  std::vector<TLinkReply> out;
  const bool ok = WalkRecords(payload, [&](std::uint16_t a, std::uint16_t b, std::uint16_t c, ByteString d) {
    out.push_back(TLinkReply{a, b, c, std::move(d)});
  });
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace tarvex
