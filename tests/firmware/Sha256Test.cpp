// SHA-256 against the standard's own examples, across the block and padding boundaries.
#include <gtest/gtest.h>

#include <string>

#include "firmware/Sha256.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

TEST(Sha256, KnownAnswersAndFiles) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  const std::string million(1000000, 'a');
  EXPECT_EQ(Sha256Hex(million), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  test::TempDir dir;
  EXPECT_EQ(Sha256OfFile(dir.Write("a.bin", million)), Sha256Hex(million));  // read in chunks
  EXPECT_FALSE(Sha256OfFile(dir.Path() + "/missing.bin"));
}

}  // namespace
}  // namespace tarvex
