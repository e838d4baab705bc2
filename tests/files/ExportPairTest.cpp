#include "files/ExportPair.h"

#include "common/Failure.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace smsconf {
namespace {

using testing::FailureOf;
using testing::ReadFile;
using testing::WriteFile;

void Export(const std::string& image, const std::string& source) {
  WriteExportPair({image, "new image"}, {source, "new source"}, "");
}

// A refused export leaves the files as they were and no temporary file:
// most refusals come before anything is written, and a source that fails
// only once the image is written takes the image back with it.
TEST(ExportPair, RefusedTargetsChangeNothing) {
  const testing::TempDir dir;
  const std::string image = dir.File("sms.bin"), source = dir.File("stdcfg.c");
  WriteFile(dir.File("plain"), "x");
  const std::string blocked = dir.File("plain") + "/stdcfg.c", link = dir.File("link.bin");
  EXPECT_EQ(FailureOf([&] { Export(image, blocked); }),
            "Cannot create file " + blocked + ": a folder on the way is not a folder");
  EXPECT_EQ(dir.EntryCount(), 1u);  // without an earlier image, none is left
  WriteFile(image, "old image");
  const std::string fifo = dir.File("fifo"), big = dir.File("big.bin");
  WriteFile(big, std::string(512 * 1024 + 1, 'x'));
  ASSERT_EQ(testing::MakeFifo(fifo), testing::PosixFiles);
  if (testing::PosixFiles) std::filesystem::create_symlink("sms.bin", link);
  const std::string notRegular = ": not a regular file (a device, FIFO or socket)";
  struct Case { std::string image, source, message; };
  const Case cases[] = {
      {blocked, source, "Cannot create file " + blocked + ": a folder on the way is not a folder"},
      {image, blocked, "Cannot create file " + blocked + ": a folder on the way is not a folder"},
      {image, fifo, "Cannot create file " + fifo + notRegular},
      {fifo, source, "Cannot create file " + fifo + notRegular},
      {image, link, "Cannot create file " + link + ": it is also the image file"},
      {image, image, "Cannot create file " + image + ": it is also the image file"},
      {big, source, "Cannot create file " + big + ": the file there is larger than any image or source, so it is not replaced"},
  };
  for (const Case& c : cases) {
    if (!testing::PosixFiles && (c.image == fifo || c.source == fifo || c.source == link)) continue;
    EXPECT_EQ(FailureOf([&] { Export(c.image, c.source); }), c.message);
  }
  EXPECT_EQ(ReadFile(image), "old image");
  EXPECT_EQ(ReadFile(big).size(), 512u * 1024 + 1);
  EXPECT_EQ(dir.EntryCount(), testing::PosixFiles ? 5u : 3u);  // no source written, no temporary files
}

}  // namespace
}  // namespace smsconf
