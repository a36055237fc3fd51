#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/base/atomic_file.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;
using kestrel::writeAtomically;

namespace {

size_t entriesIn(const std::string& dir) {
  size_t n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

}  // namespace

TEST(AtomicFile, CreatesAndReplacesKeepingTheMode) {
  Scratch s;
  const std::string path = s.path("out.cube");
  EXPECT_FALSE(writeAtomically(path, "first"));
  EXPECT_EQ(readFile(path), "first");
  ::chmod(path.c_str(), 0640);
  EXPECT_FALSE(writeAtomically(path, std::string(3 << 20, 'x')));
  EXPECT_EQ(readFile(path).size(), 3u << 20);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(entriesIn(s.dir()), 1u);  // no temporary file left beside it
}
