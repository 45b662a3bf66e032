// `tarvex-flash info`: what a firmware file is for and which flash pages it fills, worked out with
// the same loader, image and page list the window uses.
#include <charconv>
#include <fstream>
#include <ostream>

#include "cli/Cli.h"
#include "core/Globals.h"
#include "core/ProductCatalogue.h"
#include "firmware/Acceptance.h"
#include "firmware/FlashImage.h"
#include "firmware/HexFile.h"

namespace tarvex::cli {

namespace {

constexpr std::uint8_t kDefaultMemCode = 5;

void PrintInfoHelp(std::ostream& out) {
  out << "Usage: tarvex-flash info FILE.hex [--mem-code N] [--dump-image OUT.bin]\n\n"
         "Loads a firmware file as the programmer would for a product of memory-size code N\n"
         "(1 to 5, default 5) and prints its identity, the flash pages it uses and their blocks.\n\n"
         "Options:\n"
         "  --mem-code N          memory-size code of the product (1 = 256 KB ... 5 = 1 MB)\n"
         "  --dump-image OUT.bin  write the whole file image, 0xFF where nothing was stored\n"
         "  -h, --help            show this help\n\n"
         "Exit status: 0 the file was read, 1 the image could not be written, 2 a usage error,\n"
         "5 the file was refused (the reason is printed), as for flash.\n";
}

bool ParseMemCode(const std::string& text, std::uint8_t& code) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || p != end || value > 0xFF) return false;
  code = static_cast<std::uint8_t>(value);
  return MemSizePages(code) != 0;
}

std::string Hex32(std::uint32_t v) {
  return Format("0x%08X", v);
}

// Runs of consecutive pages in use, one line each.
void PrintPages(std::ostream& out) {
  std::size_t i = 0;
  while (i < PageList.size()) {
    std::size_t j = i;
    while (j + 1 < PageList.size() && PageList[j + 1].PageID == PageList[j].PageID + 1) ++j;
    const std::string pages = i == j ? Format("%u", static_cast<unsigned>(PageList[i].PageID))
                                     : Format("%u-%u", static_cast<unsigned>(PageList[i].PageID),
                                              static_cast<unsigned>(PageList[j].PageID));
    out << "  " << pages << std::string(pages.size() < 10 ? 10 - pages.size() : 1, ' ')
        << Hex32(PageList[i].StartAddr) << "-" << Hex32(PageList[j].EndAddr) << "\n";
    i = j + 1;
  }
}

bool DumpImage(const std::string& path) {
  std::ofstream f(PathOf(path), std::ios::binary | std::ios::trunc);
  for (const auto& page : FileMemory) {
    f.write(reinterpret_cast<const char*>(page.Data), sizeof page.Data);
  }
  f.close();
  return static_cast<bool>(f);
}

}  // namespace

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"mem-code", true}, {"dump-image", true}, {"help", false}}, parsed, error)) {
    UsageError(err, "info", error);
    return kExitUsage;
  }
  if (parsed.Has("help")) {
    PrintInfoHelp(out);
    return kExitOk;
  }
  if (parsed.Positional.size() != 1) {
    UsageError(err, "info", "expected one HEX file");
    return kExitUsage;
  }
  std::uint8_t memCode = kDefaultMemCode;
  if (parsed.Has("mem-code") && !ParseMemCode(parsed.Options["mem-code"], memCode)) {
    UsageError(err, "info", "the memory-size code must be 1 to 5");
    return kExitUsage;
  }
  const std::string& file = parsed.Positional[0];

  SetImagePages(MemSizePages(memCode));
  THexFault fault;
  if (!LoadHexFile(file, &fault)) {
    err << kMsgErrorReadingFile << "\n" << HexFaultText(file, fault) << "\n";
    return kExitFileRefused;
  }
  TProductInfo id;
  ReadFileIdentity(file, id);
  BuildPageList();

  out << "File: " << file << "\n"
      << "Product: " << GetProductName(id.ProductCode, id.Variant) << "\n"
      << "Product code: " << static_cast<unsigned>(id.ProductCode) << "\n"
      << "Variant: " << static_cast<unsigned>(id.Variant) << "\n"
      << "Version: " << FormatVersion(id.Major, id.Minor) << "\n"
      << "Microcontroller: " << FileMicroText(id) << "\n"
      << "Memory-size code: " << static_cast<unsigned>(memCode) << " (" << FileMemory.size() << " pages)\n"
      << "Pages in use: " << PageList.size() << "\n";
  PrintPages(out);
  out << "Blocks: " << CountBlocks() << "\n";

  if (parsed.Has("dump-image") && !DumpImage(parsed.Options["dump-image"])) {
    err << "tarvex-flash info: cannot write " << parsed.Options["dump-image"] << "\n";
    return kExitFailure;
  }
  if (PageList.empty()) {
    err << kMsgNoFirmwareData << "\n";
    return kExitFileRefused;
  }
  return kExitOk;
}

}  // namespace tarvex::cli
