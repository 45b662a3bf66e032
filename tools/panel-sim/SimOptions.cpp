#include "tools/panel-sim/SimOptions.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <system_error>

#include "core/ProductCatalogue.h"

namespace tarvex::panelsim {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// A whole unsigned number (decimal, or hexadecimal with 0x) no greater than max.
std::optional<std::uint32_t> Number(const std::string& s, std::uint32_t max) {
  if (s.empty() || s.size() > 12 || !std::isdigit(static_cast<unsigned char>(s[0]))) return std::nullopt;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (end == nullptr || *end != '\0' || v > max) return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

std::optional<ByteString> HexString(const std::string& s) {
  if (s.size() % 2 != 0) return std::nullopt;
  ByteString out;
  for (std::size_t i = 0; i < s.size(); i += 2) {
    const auto v = Number("0x" + s.substr(i, 2), 0xFF);
    if (!v || !std::isxdigit(static_cast<unsigned char>(s[i + 1]))) return std::nullopt;
    out += static_cast<char>(*v);
  }
  return out;
}

}  // namespace

std::string HelpText() {
  return R"(Usage: tarvex-panel-sim [options]
Plays a Tarvex product (control panel or keypad) on a serial line: its firmware's product link
and its boot loader, for tests, demonstrations and training without hardware.

Line:
  --device PATH         use this serial device (e.g. a second USB-serial adapter) instead of a
                        pseudo-terminal; no port link is made for it
  --com N               register the pseudo-terminal as COM<N> (default: lowest free from 20)
  --ports-dir DIR       folder of port links (default: $TARVEX_PORTS_DIR, else
                        ${XDG_CONFIG_HOME:-$HOME/.config}/tarvex-flash-programmer/ports)
  --no-register         make no port link; only print the pseudo-terminal's path
  --baud N              pace the line at N baud, 10 bits a byte; replies start only after the
                        request could have arrived (default 0: full speed)
  --bytewise            with --baud: write each byte when it is due, as a slow lead hands them
                        over, rather than in batches of about a millisecond
  --log FILE            transcript: every frame received and sent, in hex, with times in seconds
  --dump-flash FILE     write the flash's contents (from 0x08000000) to FILE when stopped

Product:
  --product NAME        preset from the catalogue (e.g. PX-22, "Glass Keypad"): code, variant,
                        memory size and its lowest updatable version
  --code N              product code (default 120)
  --variant N           variant (default 0)
  --version M.mm        software version, e.g. 1.05 (default: the preset's, else 1.00)
  --micro C             maker letter: G (GigaDevice), S (ST Microelectronics) or any other
                        letter; after a restart the firmware's identity block decides G or S,
                        any other letter stays (default S)
  --uid HEX             unique ID, 24 hexadecimal digits
  --serial TEXT         serial number, at most 16 characters (padded with spaces)
  --no-serial           serial number of sixteen 0xFF bytes
  --nvm-locked          report the NVM lock set
  --second-code         refuse the first access code with error 3 and want the second
  --mem-pages N         flash size in 2 KB pages (default: the catalogue's for the code)
  --erase-ms N          time to erase one page (default 20)
  --write-ms N          time to program one block (default 6)
  --reenumerate N       USB leave-and-return cycles after GO, each re-creating the port link
                        (default 1; 0 keeps the line as it is)
  --reenumerate-ms N    how long the lead is gone in each cycle (default 400)
  --replug-ms N         how long an unplugged lead stays out before it comes back (default 1500)

Faults:
  --silent              never answer
  --answer-after N      ignore the first N product-link requests
  --bad-crc N           corrupt the CRC of the next N reply frames
  --access-error E      answer every access request with error E (2, 3, 4 or 5)
  --not-ready N         answer the first N identity requests "not ready" (code 6401)
  --refuse-request P    answer every request of parameter address P (e.g. 3140, the NVM lock)
                        with error 5 "not supported"
  --nack CMD:N          NACK the next N boot loader frames of command CMD (e.g. 0x31:2;
                        0x7F is the sync)
  --sync-garbage N      answer the first N syncs with garbage
  --silent-cmd CMD[:N]  leave the next N frames of boot loader command CMD unanswered
                        (default: all of them)
  --chunk BYTES:MS      send replies in pieces of BYTES bytes, MS milliseconds apart
  --unplug-after N      drop the line when the Nth boot loader frame arrives; the lead comes
                        back after --replug-ms and the product starts afresh
  --flip-flash ADDR     the byte at flash address ADDR (e.g. 0x08000100) reads back wrong after
                        it is written, so the verify fails

  --help                this text
)";
}

std::optional<std::string> ParseOptions(const std::vector<std::string>& args, TSimOptions& opts) {
  TProductConfig& p = opts.Product;
  TFaults& f = p.Faults;
  std::optional<std::uint32_t> code, variant;
  std::optional<std::pair<std::uint8_t, std::uint8_t>> version;
  std::string product;
  bool uidGiven = false, serialGiven = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) -> bool {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    std::string v;
    auto bad = [&]() { return "bad or missing value for " + a; };
    auto num = [&](std::uint32_t max, auto& field) -> bool {
      if (!value(v)) return false;
      const auto n = Number(v, max);
      if (!n) return false;
      field = static_cast<std::remove_reference_t<decltype(field)>>(*n);
      return true;
    };
    // CMD or CMD:N, the count defaulting to dflt.
    auto cmdCount = [&](std::uint8_t& cmd, std::uint32_t& count, std::optional<std::uint32_t> dflt) -> bool {
      if (!value(v)) return false;
      const auto colon = v.find(':');
      const auto c = Number(v.substr(0, colon), 0xFF);
      if (!c) return false;
      cmd = static_cast<std::uint8_t>(*c);
      if (colon == std::string::npos) {
        if (!dflt) return false;
        count = *dflt;
        return true;
      }
      const auto n = Number(v.substr(colon + 1), std::numeric_limits<std::uint32_t>::max());
      if (!n) return false;
      count = *n;
      return true;
    };
    constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
    constexpr std::uint32_t kMaxMs = 600000;

    if (a == "--help" || a == "-h") {
      opts.Help = true;
    } else if (a == "--device") {
      if (!value(opts.Device) || opts.Device.empty()) return bad();
    } else if (a == "--com") {
      std::uint32_t n = 0;
      if (!num(9999, n) || n == 0) return bad();
      opts.Com = static_cast<int>(n);
    } else if (a == "--ports-dir") {
      if (!value(opts.PortsDir) || opts.PortsDir.empty()) return bad();
    } else if (a == "--no-register") {
      opts.Register = false;
    } else if (a == "--baud") {
      if (!num(4000000, opts.Baud)) return bad();
    } else if (a == "--bytewise") {
      opts.Bytewise = true;
    } else if (a == "--dump-flash") {
      if (!value(opts.DumpFlashFile) || opts.DumpFlashFile.empty()) return bad();
    } else if (a == "--log") {
      if (!value(opts.LogFile) || opts.LogFile.empty()) return bad();
    } else if (a == "--product") {
      if (!value(product)) return bad();
      const auto row = std::find_if(ProductDefs.begin(), ProductDefs.end(),
                                    [&](const TProductDef& d) { return Lower(d.Name) == Lower(product); });
      if (row == ProductDefs.end()) return "unknown product " + product;
    } else if (a == "--code") {
      std::uint32_t n = 0;
      if (!num(0xFF, n)) return bad();
      code = n;
    } else if (a == "--variant") {
      std::uint32_t n = 0;
      if (!num(0xFF, n)) return bad();
      variant = n;
    } else if (a == "--version") {
      if (!value(v)) return bad();
      const auto dot = v.find('.');
      if (dot == std::string::npos) return bad();
      const auto major = Number(v.substr(0, dot), 0xFF);
      const auto minor = Number(v.substr(dot + 1), 99);
      if (!major || !minor || v.size() - dot - 1 != 2) return bad();
      version = std::make_pair(static_cast<std::uint8_t>(*major), static_cast<std::uint8_t>(*minor));
    } else if (a == "--micro") {
      if (!value(v) || v.size() != 1) return bad();
      p.Micro = v[0];
    } else if (a == "--uid") {
      if (!value(v)) return bad();
      const auto uid = HexString(v);
      if (!uid || uid->size() != 12) return bad();
      p.UniqueID = *uid;
      uidGiven = true;
    } else if (a == "--serial") {
      if (!value(v) || v.size() > 16) return bad();
      p.SerialNo = v;
      serialGiven = true;
    } else if (a == "--no-serial") {
      p.SerialNo = ByteString(16, '\xFF');
      serialGiven = true;
    } else if (a == "--nvm-locked") {
      p.NvmLocked = true;
    } else if (a == "--second-code") {
      p.NeedSecondCode = true;
    } else if (a == "--mem-pages") {
      if (!num(0x10000, p.FlashPages) || p.FlashPages == 0) return bad();
    } else if (a == "--erase-ms") {
      if (!num(kMaxMs, p.EraseMs)) return bad();
    } else if (a == "--write-ms") {
      if (!num(kMaxMs, p.WriteMs)) return bad();
    } else if (a == "--reenumerate") {
      if (!num(100, p.Reenumerations)) return bad();
    } else if (a == "--reenumerate-ms") {
      if (!num(kMaxMs, opts.ReenumerateMs)) return bad();
    } else if (a == "--replug-ms") {
      if (!num(kMaxMs, opts.ReplugMs)) return bad();
    } else if (a == "--silent") {
      f.Silent = true;
    } else if (a == "--answer-after") {
      if (!num(kMax, f.AnswerAfter)) return bad();
    } else if (a == "--bad-crc") {
      if (!num(kMax, f.BadCrcFrames)) return bad();
    } else if (a == "--access-error") {
      if (!num(5, f.AccessError) || f.AccessError < 2) return bad();
    } else if (a == "--refuse-request") {
      if (!num(0xFFFF, f.RefuseRequest) || f.RefuseRequest == 0) return bad();
    } else if (a == "--not-ready") {
      if (!num(kMax, f.NotReadyCount)) return bad();
    } else if (a == "--nack") {
      if (!cmdCount(f.NackCommand, f.NackCount, std::nullopt)) return bad();
    } else if (a == "--sync-garbage") {
      if (!num(kMax, f.SyncGarbage)) return bad();
    } else if (a == "--silent-cmd") {
      if (!cmdCount(f.SilentCommand, f.SilentCount, kMax)) return bad();
    } else if (a == "--chunk") {
      if (!value(v)) return bad();
      const auto colon = v.find(':');
      const auto size = Number(v.substr(0, colon), 0xFFFF);
      const auto ms =
          colon == std::string::npos ? std::optional<std::uint32_t>(0) : Number(v.substr(colon + 1), kMaxMs);
      if (!size || *size == 0 || !ms) return bad();
      f.ChunkSize = *size;
      f.ChunkDelayMs = *ms;
    } else if (a == "--unplug-after") {
      if (!num(kMax, f.UnplugAfter) || f.UnplugAfter == 0) return bad();
    } else if (a == "--flip-flash") {
      std::uint32_t addr = 0;
      if (!num(kMax, addr) || addr < kFlashBase) return bad();
      f.FlipAddress = addr;
    } else {
      return "unknown option " + a;
    }
  }

  if (!product.empty()) {
    const auto row = std::find_if(ProductDefs.begin(), ProductDefs.end(),
                                  [&](const TProductDef& d) { return Lower(d.Name) == Lower(product); });
    p.ProductCode = row->Code;
    p.Variant = row->Variant;
    const std::int32_t min = std::max<std::int32_t>(row->MinVersion, 100);
    p.Major = static_cast<std::uint8_t>(min / 100);
    p.Minor = static_cast<std::uint8_t>(min % 100);
  }
  if (code) p.ProductCode = static_cast<std::uint8_t>(*code);
  if (variant) p.Variant = static_cast<std::uint8_t>(*variant);
  if (version) {
    p.Major = version->first;
    p.Minor = version->second;
  }
  if (!uidGiven) p.UniqueID = ByteString("TVXSIM") + ByteString{'\x10', '\x20', '\x30', '\x40', '\x50', 'Z'};
  if (!serialGiven) p.SerialNo = "SIM" + std::to_string(100000 + p.ProductCode);
  return std::nullopt;
}

std::string DefaultPortsDir() {
  if (const char* d = std::getenv("TARVEX_PORTS_DIR"); d != nullptr && *d != '\0') return d;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && *x != '\0') {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
    base = std::string(h) + "/.config";
  } else {
    base = "/tmp";
  }
  return base + "/tarvex-flash-programmer/ports";
}

int LowestFreeCom(const std::string& dir, int from) {
  for (int n = from;; ++n) {
    std::error_code ec;
    const auto st =
        std::filesystem::symlink_status(std::filesystem::path(dir) / ("COM" + std::to_string(n)), ec);
    if (!std::filesystem::exists(st)) return n;
  }
}

}  // namespace tarvex::panelsim
