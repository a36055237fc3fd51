// Lines in blocks: every piece handed on holds whole lines only.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/base/line_blocks.h"

using kestrel::LineBlocks;

namespace {

struct Recorder {
  std::vector<std::string> pieces;
  int refuseWith = 0;
  LineBlocks::Sink sink() {
    return [this](const char* data, size_t size) {
      if (refuseWith) return refuseWith;
      pieces.emplace_back(data, size);
      return 0;
    };
  }
};

}  // namespace

TEST(LineBlocks, EveryPieceIsWholeLinesAndNothingIsLost) {
  Recorder r;
  LineBlocks blocks(16, r.sink());
  std::string expected;
  // Lines of every length around the block's: shorter, exactly a block with
  // its line feed, longer than a block.
  for (const size_t length : {3, 7, 12, 15, 16, 40, 0, 5, 9, 1, 14, 2}) {
    const std::string line(length, static_cast<char>('a' + length % 26));
    EXPECT_EQ(blocks.add(line), 0);
    expected += line + "\n";
  }
  EXPECT_EQ(blocks.flush(), 0);
  EXPECT_EQ(blocks.flush(), 0);  // nothing left: nothing sent

  std::string all;
  for (const std::string& piece : r.pieces) {
    ASSERT_FALSE(piece.empty());
    EXPECT_EQ(piece.back(), '\n') << "a piece ends inside a line: " << piece;
    // Only a lone line may pass the block.
    if (piece.size() > 16) {
      EXPECT_EQ(piece.find('\n'), piece.size() - 1) << piece;
    }
    all += piece;
  }
  EXPECT_EQ(all, expected);
  // Held until the next line would not fit: the first two go together; a
  // line of a block or more goes alone.
  ASSERT_GE(r.pieces.size(), 5u);
  EXPECT_EQ(r.pieces[0], "ddd\nhhhhhhh\n");
  EXPECT_EQ(r.pieces[3], std::string(16, 'q') + "\n");
  EXPECT_EQ(r.pieces[4], std::string(40, 'o') + "\n");
}

TEST(LineBlocks, ARefusalIsReportedAndWhatWasHeldDropped) {
  Recorder r;
  LineBlocks blocks(64, r.sink());
  EXPECT_EQ(blocks.add("kept"), 0);
  EXPECT_TRUE(r.pieces.empty());
  r.refuseWith = ENOSPC;
  EXPECT_EQ(blocks.flush(), ENOSPC);
  EXPECT_EQ(blocks.add(std::string(100, 'x')), ENOSPC);  // a long line goes out at once
  r.refuseWith = 0;
  EXPECT_EQ(blocks.add("next"), 0);
  EXPECT_EQ(blocks.flush(), 0);
  ASSERT_EQ(r.pieces.size(), 1u);
  EXPECT_EQ(r.pieces[0], "next\n");
}
