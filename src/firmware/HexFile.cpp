#include "firmware/HexFile.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "core/ProductCatalogue.h"
#include "firmware/FlashImage.h"

namespace tarvex {

namespace {

constexpr std::uint8_t kNotHex = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeHexTable() {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = kNotHex;
  for (int c = '0'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'a' + 10);
  return t;
}
constexpr std::array<std::uint8_t, 256> kHex = MakeHexTable();

// Value of the two digits at p; false when either is not a digit.
inline bool HexByte(const char* p, std::uint8_t& out) {
  const std::uint8_t hi = kHex[static_cast<unsigned char>(p[0])];
  const std::uint8_t lo = kHex[static_cast<unsigned char>(p[1])];
  if ((hi | lo) & 0xF0) return false;
  out = static_cast<std::uint8_t>((hi << 4) | lo);
  return true;
}

constexpr std::uint8_t kTypeData = 0x00;
constexpr std::uint8_t kTypeEof = 0x01;
constexpr std::uint8_t kTypeExtLinear = 0x04;

// One decoded record.
struct TRecord {
  std::uint16_t Address = 0;
  std::uint8_t Type = 0;
  std::uint8_t Count = 0;
  std::uint8_t Data[255];
};

// Decodes a line whose trailing blanks and CR are already gone. Every way a line can be wrong is a
// failure here, the length included: a short line would otherwise lose firmware bytes unnoticed.
bool DecodeRecord(std::string_view line, TRecord& rec, THexFaultKind& fault) {
  fault = THexFaultKind::hfNotHex;
  if (line.empty() || line[0] != ':') return false;
  const char* p = line.data() + 1;
  if (line.size() < 3 || !HexByte(p, rec.Count)) return false;
  // Digits only, then the length the count asks for.
  for (std::size_t i = 1; i < line.size(); ++i) {
    if (kHex[static_cast<unsigned char>(line[i])] == kNotHex) return false;
  }
  fault = THexFaultKind::hfWrongLength;
  if (line.size() < 11 || line.size() != 2u * rec.Count + 11u) return false;
  fault = THexFaultKind::hfNotHex;
  std::uint8_t hdr[4];  // address high, address low, type, (checksum at the end)
  for (int i = 0; i < 3; ++i) {
    if (!HexByte(p + 2 + 2 * i, hdr[i])) return false;
  }
  unsigned sum = rec.Count + hdr[0] + hdr[1] + hdr[2];
  const char* d = p + 8;
  for (unsigned i = 0; i < rec.Count; ++i, d += 2) {
    if (!HexByte(d, rec.Data[i])) return false;
    sum += rec.Data[i];
  }
  if (!HexByte(d, hdr[3])) return false;
  fault = THexFaultKind::hfBadChecksum;
  if (((sum + hdr[3]) & 0xFF) != 0) return false;
  fault = THexFaultKind::hfNone;
  rec.Address = static_cast<std::uint16_t>((hdr[0] << 8) | hdr[1]);
  rec.Type = hdr[2];
  return true;
}

// Where the text comes from: a file or memory, read in chunks.
class IChunkSource {
 public:
  virtual ~IChunkSource() = default;
  // Bytes read into buf (0 at the end), or -1 on a read error.
  virtual std::ptrdiff_t Read(char* buf, std::size_t size) = 0;
};

class TTextSource final : public IChunkSource {
 public:
  explicit TTextSource(std::string_view text) : text_(text) {}
  std::ptrdiff_t Read(char* buf, std::size_t size) override {
    const std::size_t n = std::min(size, text_.size());
    std::memcpy(buf, text_.data(), n);
    text_.remove_prefix(n);
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  std::string_view text_;
};

struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

class TFileSource final : public IChunkSource {
 public:
  explicit TFileSource(std::FILE* f) : file_(f) {}
  std::ptrdiff_t Read(char* buf, std::size_t size) override {
    const std::size_t n = std::fread(buf, 1, size, file_.get());
    if (n == 0 && std::ferror(file_.get()) != 0) return -1;
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  std::unique_ptr<std::FILE, TFileCloser> file_;
};

// Opens a regular file for reading; nothing for a missing file, a folder, a device, a pipe or a
// file too large, fault saying which.
std::unique_ptr<TFileSource> OpenHexFile(const std::string& fileName, THexFaultKind& fault) {
  std::error_code ec;
  const auto st = std::filesystem::status(PathOf(fileName), ec);
  fault = THexFaultKind::hfMissing;
  if (ec || !std::filesystem::exists(st)) return nullptr;
  fault = THexFaultKind::hfNotRegularFile;
  if (!std::filesystem::is_regular_file(st)) return nullptr;
  fault = THexFaultKind::hfTooLarge;
  const auto size = std::filesystem::file_size(PathOf(fileName), ec);
  if (!ec && size > kMaxHexFileSize) return nullptr;
  fault = THexFaultKind::hfCannotRead;
  std::FILE* f = OpenFileUtf8(fileName, "rb");
  if (f == nullptr) return nullptr;
  fault = THexFaultKind::hfNone;
  return std::make_unique<TFileSource>(f);
}

// Reads every line and hands each data record to onData (which returns false to fail the read).
// True when the read ended without failure. A file without an end-of-file record fails: a
// download cut short must never pass for a whole firmware.
template <class OnData>
bool ParseHex(IChunkSource& src, OnData&& onData, THexFault& fault) {
  bool failed = true;  // cleared by the end-of-file record
  std::uint32_t extAddr = 0;
  TRecord rec;
  std::string line;
  line.reserve(kMaxHexLine);
  std::size_t lineNo = 0;
  const auto fail = [&](THexFaultKind kind) {
    fault = {kind, lineNo};
    return false;
  };

  const auto processLine = [&]() -> bool {
    ++lineNo;
    std::size_t len = line.size();
    while (len > 0 && (line[len - 1] == '\r' || line[len - 1] == ' ' || line[len - 1] == '\t')) --len;
    THexFaultKind kind = THexFaultKind::hfNone;
    if (!DecodeRecord(std::string_view(line.data(), len), rec, kind)) return fail(kind);
    switch (rec.Type) {
      case kTypeData:
        if (!onData(static_cast<std::uint64_t>(extAddr) + rec.Address, rec.Data, rec.Count)) {
          return fail(THexFaultKind::hfOutsideMemory);
        }
        return true;
      case kTypeEof: failed = false; return true;
      case kTypeExtLinear:
        if (rec.Count != 2) return fail(THexFaultKind::hfWrongLength);  // no second byte for the address
        extAddr =
            (static_cast<std::uint32_t>(rec.Data[0]) << 24) | (static_cast<std::uint32_t>(rec.Data[1]) << 16);
        return true;
      default: return true;  // other record types are not used by the firmware
    }
  };

  static constexpr std::size_t kChunk = 64 * 1024;
  auto buf = std::make_unique<char[]>(kChunk);
  for (;;) {
    const std::ptrdiff_t got = src.Read(buf.get(), kChunk);
    if (got < 0) {
      fault = {THexFaultKind::hfCannotRead, 0};
      return false;
    }
    if (got == 0) break;
    const char* p = buf.get();
    const char* const end = p + got;
    while (p < end) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      const char* stop = nl != nullptr ? nl : end;
      const std::size_t n = static_cast<std::size_t>(stop - p);
      if (line.size() + n > kMaxHexLine) {
        ++lineNo;
        return fail(THexFaultKind::hfNotHex);  // far longer than any record
      }
      line.append(p, n);
      if (nl == nullptr) break;
      if (!processLine()) return false;
      line.clear();
      p = nl + 1;
    }
  }
  if (!line.empty() && !processLine()) return false;
  // A file without a single line is an empty download rather than one cut short.
  if (failed) fault = {lineNo == 0 ? THexFaultKind::hfNoData : THexFaultKind::hfNoEndOfFile, 0};
  return !failed;
}

bool LoadFrom(IChunkSource& src, THexFault& fault) {
  return ParseHex(
      src,
      [](std::uint64_t address, const std::uint8_t* data, std::uint8_t count) {
        TPagePos pos;
        if (!LocateAddress(address, pos) || pos.Page >= FileMemory.size()) return false;
        return StoreBytes(FileMemory, pos, data, count) == count;
      },
      fault);
}

// Finds the first identity block in a stream of data bytes without keeping them: only the six bytes
// after the first signature matter.
class TIdentityScanner {
 public:
  void Feed(const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t b = data[i];
      if (found_) {
        if (captured_ < tail_.size())
          tail_[captured_++] = b;
        else
          return;
        continue;
      }
      if (b == kSignature[matched_]) {
        if (++matched_ == kSignature.size()) found_ = true;
      } else {
        matched_ = b == kSignature[0] ? 1 : 0;
      }
    }
  }
  // The first signature with its four identity bytes; a later one can never have them when the
  // first does not.
  [[nodiscard]] bool Complete() const { return found_ && captured_ >= 4; }
  void Apply(TProductInfo& info) const {
    info.ProductCode = tail_[0];
    info.Variant = tail_[1];
    info.Major = tail_[2];
    info.Minor = tail_[3];
    info.Micro = captured_ >= 6 && tail_[4] == 'G' && tail_[5] == 'D' ? 'G' : 'S';
    info.Spare = 0;
    info.Family = static_cast<std::uint8_t>(GetProductFamily(info.ProductCode));
  }

 private:
  static constexpr std::array<std::uint8_t, 3> kSignature{0x55, 0xAA, 0xFF};
  std::size_t matched_ = 0;
  bool found_ = false;
  std::size_t captured_ = 0;
  std::array<std::uint8_t, 6> tail_{};
};

void ClearIdentity(TProductInfo& info) {
  info.Major = 0;
  info.Minor = 0;
  info.ProductCode = 0;
  info.Family = 0;
  info.Variant = 0;
}

void IdentifyFrom(IChunkSource& src, TProductInfo& info) {
  TIdentityScanner scanner;
  THexFault ignored;
  const bool ok = ParseHex(
      src,
      [&](std::uint64_t, const std::uint8_t* data, std::uint8_t count) {
        scanner.Feed(data, count);
        return true;
      },
      ignored);
  if (ok && scanner.Complete()) scanner.Apply(info);
}

}  // namespace

std::optional<std::uint32_t> HexToInt(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t v = 0;
  for (const char c : text) {
    const std::uint8_t d = kHex[static_cast<unsigned char>(c)];
    if (d == kNotHex) return std::nullopt;
    v = (v << 4) | d;
  }
  return v;
}

bool CheckHexRecord(std::string_view line) {
  if (line.empty() || line[0] != ':') return false;
  line.remove_prefix(1);
  const std::size_t n = line.size();
  if (n < 2) return false;
  const auto checksum = HexToInt(line.substr(n - 2));
  if (!checksum) return false;
  unsigned sum = 0;
  for (std::size_t i = 0; i < (n - 2) / 2; ++i) {
    const auto b = HexToInt(line.substr(2 * i, 2));
    if (!b) return false;
    sum += *b;
  }
  return (256 - (sum & 0xFF)) % 256 == *checksum;
}

bool LoadHexFile(const std::string& fileName, THexFault* fault) {
  THexFault local;
  THexFault& f = fault != nullptr ? *fault : local;
  f = {};
  THexFaultKind kind = THexFaultKind::hfNone;
  auto src = OpenHexFile(fileName, kind);
  if (src == nullptr) {
    f = {kind, 0};
    return false;
  }
  return LoadFrom(*src, f);
}

bool LoadHexText(std::string_view text, THexFault* fault) {
  THexFault local;
  TTextSource src(text);
  return LoadFrom(src, fault != nullptr ? *fault : local);
}

std::string HexFaultText(const std::string& fileName, const THexFault& fault) {
  const char* what = "no fault";
  switch (fault.Kind) {
    case THexFaultKind::hfNone: break;
    case THexFaultKind::hfMissing: what = "the file does not exist"; break;
    case THexFaultKind::hfNotRegularFile: what = "not a regular file (a folder or a device)"; break;
    case THexFaultKind::hfCannotRead: what = "the file cannot be read"; break;
    case THexFaultKind::hfTooLarge: what = "the file is too large for a firmware file"; break;
    case THexFaultKind::hfNotHex: what = "not an Intel HEX record"; break;
    case THexFaultKind::hfWrongLength: what = "wrong record length"; break;
    case THexFaultKind::hfBadChecksum: what = "bad checksum"; break;
    case THexFaultKind::hfOutsideMemory: what = "address outside the product's memory"; break;
    case THexFaultKind::hfNoEndOfFile: what = "no end-of-file record: the file is cut short"; break;
    case THexFaultKind::hfNoData: what = "no firmware data"; break;
  }
  const std::string name = Utf8Of(PathOf(fileName).filename());
  return fault.Line != 0 ? name + ", line " + std::to_string(fault.Line) + ": " + what : name + ": " + what;
}

void ReadFileIdentity(const std::string& fileName, TProductInfo& info) {
  ClearIdentity(info);
  THexFaultKind ignored = THexFaultKind::hfNone;
  auto src = OpenHexFile(fileName, ignored);
  if (src != nullptr) IdentifyFrom(*src, info);
}

void ReadTextIdentity(std::string_view text, TProductInfo& info) {
  ClearIdentity(info);
  TTextSource src(text);
  IdentifyFrom(src, info);
}

}  // namespace tarvex
