// The box tree that the boxes command prints and the fuzzer drives, over
// built trees, truncated and corrupted ones, and real files.
#include "support/box_builder.h"

#include "container/box_tree.h"
#include "platform/file_byte_source.h"
#include "platform/fourcc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {

// "type(child child) type" with offsets left out.
std::string Shape(const std::vector<BoxNode>& boxes) {
  std::string text;
  for (const BoxNode& box : boxes) {
    if (!text.empty()) text += ' ';
    text += FourCCText(box.type);
    if (!box.children.empty()) text += "(" + Shape(box.children) + ")";
  }
  return text;
}

BoxBuilder SmallMovie() {
  BoxBuilder b;
  b.Box("ftyp", [&] { b.FourCC("isom").U32(0x200); });
  b.Box("moov", [&] {
    b.FullBox("mvhd", 0, 0, [&] { b.Zeros(96); });
    b.Box("trak", [&] {
      b.FullBox("tkhd", 0, 3, [&] { b.Zeros(80); });
      b.Box("mdia", [&] {
        b.Box("minf", [&] {
          b.Box("stbl", [&] {
            b.FullBox("stsd", 0, 0, [&] {
              b.U32(1);
              b.Box("avc1", [&] { b.Zeros(78).Box("avcC", [&] { b.Zeros(7); }); });
            });
            b.FullBox("stts", 0, 0, [&] { b.U32(0); });
          });
        });
      });
    });
  });
  b.Box(BoxSize::Large(), "mdat", [&] { b.Zeros(20); });
  return b;
}

TEST(BoxTreeTest, ListsKnownContainersWithSampleEntriesAsLeaves) {
  const BoxBuilder b = SmallMovie();
  std::vector<BoxNode> boxes;
  ASSERT_EQ(ReadBoxTree(b.Reader().Get(), &boxes), S_OK);
  EXPECT_EQ(Shape(boxes), "ftyp moov(mvhd trak(tkhd mdia(minf(stbl(stsd(avc1) stts))))) mdat");
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[1].offset, 16);
  EXPECT_EQ(boxes[1].children[0].offset, 24);
  EXPECT_EQ(boxes[1].children[0].payloadSize, 100);
  const BoxNode& mdat = boxes[2];
  EXPECT_EQ(mdat.headerSize, 16);
  EXPECT_EQ(mdat.offset + mdat.headerSize + mdat.payloadSize, static_cast<LONGLONG>(b.Size()));
}

TEST(BoxTreeTest, SizeZeroBoxAtTheTopRunsToTheEndOfTheFile) {
  BoxBuilder b;
  b.Box("ftyp").Box(BoxSize::ToEnd(), "mdat", [&] { b.Zeros(30); });
  std::vector<BoxNode> boxes;
  ASSERT_EQ(ReadBoxTree(b.Reader().Get(), &boxes), S_OK);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].payloadSize, 30);
}

TEST(BoxTreeTest, FailureKeepsTheBoxesReadBeforeIt) {
  BoxBuilder b;
  b.Box("ftyp").Box("moov", [&] { b.Box("mvhd").Box(BoxSize::Forced(400), "trak"); });
  std::vector<BoxNode> boxes;
  EXPECT_EQ(ReadBoxTree(b.Reader().Get(), &boxes), VFW_E_INVALID_FILE_FORMAT);
  EXPECT_EQ(Shape(boxes), "ftyp moov(mvhd trak)");
}

TEST(BoxTreeTest, HostileNestingIsListedOnlyToTheDepthLimit) {
  BoxBuilder b;
  std::function<void(int)> nest = [&](int level) {
    if (level > 0) b.Box("moov", [&] { nest(level - 1); });
  };
  nest(200);
  std::vector<BoxNode> boxes;
  ASSERT_EQ(ReadBoxTree(b.Reader().Get(), &boxes), S_OK);
  int depth = 0;
  for (const std::vector<BoxNode>* level = &boxes; !level->empty(); level = &level->front().children) ++depth;
  EXPECT_EQ(depth, BoxTreeOptions{}.maxDepth + 1);
}

// Every prefix and every single corrupted byte of a valid tree must give a
// result, without hanging or touching memory it should not.
TEST(BoxTreeTest, EveryTruncationAndCorruptionEndsWithAResult) {
  const std::vector<uint8_t> whole = SmallMovie().Data();
  for (const bool readBodies : {false, true}) {
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
      std::vector<uint8_t> prefix(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(cut));
      std::vector<BoxNode> boxes;
      const HRESULT hr = ReadBoxTree(MakeMemoryReader(prefix).Get(), &boxes, {readBodies});
      if (cut == whole.size()) {
        EXPECT_EQ(hr, S_OK);
      }
    }
    for (size_t at = 0; at < whole.size(); ++at) {
      for (const uint8_t value : {0x00, 0x01, 0x07, 0xFF}) {
        std::vector<uint8_t> corrupt = whole;
        corrupt[at] = value;
        std::vector<BoxNode> boxes;
        ReadBoxTree(MakeMemoryReader(corrupt).Get(), &boxes, {readBodies});
      }
    }
  }
}

// Top-level boxes of real files tile the file exactly.
TEST(BoxTreeTest, RealFilesParseAndTheirTopLevelBoxesTileTheFile) {
  std::vector<std::filesystem::path> files;
  for (const char* folder : {ISODMX_TEST_DATA, ISODMX_SAMPLES}) {
    if (!std::filesystem::is_directory(folder)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string extension = entry.path().extension().string();
      if (extension == ".mp4" || extension == ".mov" || extension == ".m4a" || extension == ".ismv") {
        files.push_back(entry.path());
      }
    }
  }
  ASSERT_FALSE(files.empty());
  for (const auto& file : files) {
    ComPtr<IAsyncReader> source;
    ASSERT_EQ(CFileByteSource::Open(file.string(), source.Put()), S_OK) << file;
    std::vector<BoxNode> boxes;
    ASSERT_EQ(ReadBoxTree(source.Get(), &boxes), S_OK) << file;
    LONGLONG end = 0;
    for (const BoxNode& box : boxes) {
      EXPECT_EQ(box.offset, end) << file;
      end = box.offset + box.headerSize + box.payloadSize;
    }
    EXPECT_EQ(end, static_cast<LONGLONG>(std::filesystem::file_size(file))) << file;
    EXPECT_NE(Shape(boxes).find("moov("), std::string::npos) << file;
  }
}

}  // namespace
