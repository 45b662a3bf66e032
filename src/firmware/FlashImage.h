// The two paged images of the product's flash memory (FileMemory, DeviceMemory), the mapping of
// flash addresses onto their pages, and the list of pages in use that erase, write and verify walk.
// Only the user-interface thread touches the images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Globals.h"

namespace tarvex {

// Which image ResetMemory resets.
inline constexpr std::uint8_t kFileImage = 0;
inline constexpr std::uint8_t kDeviceImage = 1;

inline constexpr std::uint32_t kBlockSize = 256;
inline constexpr std::uint32_t kBlocksPerPage = kPageSize / kBlockSize;

// Every page of the image: ID := its index, not in use, all bytes erased. The length is unchanged.
void ResetMemory(std::uint8_t which);

// Sizes and resets both images for a newly identified product with this memory-size code. The same
// product code as last time leaves everything as it is (a loaded file stays accepted).
void PrepareImages(std::uint8_t memSizeCode);

// Sets both images to this many pages (always together) and resets them. The headless tools use it
// to load a file for a given memory size without a product.
void SetImagePages(std::size_t pages);

// Page and offset of a flash address.
struct TPagePos {
  std::uint32_t Page = 0;
  std::uint32_t Offset = 0;
};

// The page of an address at or above the flash base; false below it. Whether the page exists in an
// image is the caller's check (Page < image size).
bool LocateAddress(std::uint64_t address, TPagePos& pos);
// Flash address of a page's byte.
constexpr std::uint32_t PageAddress(std::uint32_t page, std::uint32_t offset = 0) {
  return kFlashBase + page * kPageSize + offset;
}

// Stores a run of bytes from (page, offset) on, wrapping into the following pages. A byte other
// than 0xFF marks its page in use; 0xFF never clears it. Returns how many bytes were stored: fewer
// than count when the run passes the image's last page (the rest is dropped).
std::size_t StoreBytes(std::vector<TMem2KPage>& image, TPagePos at, const std::uint8_t* bytes,
                       std::size_t count);

// 8 blocks of 256 bytes for every page of FileMemory in use.
std::uint16_t CountBlocks();
// PageList := one entry for each page of FileMemory in use, in ascending order.
void BuildPageList();

}  // namespace tarvex
