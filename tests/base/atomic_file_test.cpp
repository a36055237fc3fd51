// Output files appear whole or not at all, and a replaced file keeps its mode.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/base/atomic_file.h"
#include "tests/support/scratch.h"

using kestrel::AtomicFile;
using kestrel::writeAtomically;
using namespace kestrel::test;

namespace {

std::vector<std::string> names(const std::string& dir) {
  std::vector<std::string> v;
  for (const auto& e : std::filesystem::directory_iterator(dir)) v.push_back(e.path().filename());
  std::sort(v.begin(), v.end());
  return v;
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
  EXPECT_EQ(names(s.dir()), std::vector<std::string>{"out.cube"});  // no temporary file left beside it
}

TEST(AtomicFile, CommitReplacesTheOldFileAndLeavesNothingElse) {
  Scratch s;
  writeFile(s.path("out.png"), "old");
  {
    AtomicFile f(s.path("out.png"));
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(std::filesystem::path(f.tempPath()).parent_path(), s.dir());
    writeFile(f.tempPath(), "new");
    EXPECT_EQ(readFile(s.path("out.png")), "old");  // untouched until committed
    EXPECT_FALSE(f.commit());
  }
  EXPECT_EQ(readFile(s.path("out.png")), "new");
  EXPECT_EQ(names(s.dir()), std::vector<std::string>{"out.png"});
}

TEST(AtomicFile, AbandonedWriteRemovesItsTemporaryFile) {
  Scratch s;
  writeFile(s.path("keep.png"), "old");
  {
    AtomicFile f(s.path("keep.png"));
    ASSERT_TRUE(f.ok());
    writeFile(f.tempPath(), "half");
  }
  {
    AtomicFile f(s.path("fresh.png"));
    ASSERT_TRUE(f.ok());
  }
  EXPECT_EQ(readFile(s.path("keep.png")), "old");
  EXPECT_EQ(names(s.dir()), std::vector<std::string>{"keep.png"});
}

TEST(AtomicFile, UnusablePathsFailWithoutLeftovers) {
  Scratch s;
  EXPECT_FALSE(AtomicFile(s.path("missing/out.png")).ok());
  EXPECT_EQ(writeAtomically(s.path("missing/out.cube"), "x"), "No such file or directory");
  EXPECT_EQ(AtomicFile(s.dir() + "/").error(), "Is a directory");  // names no file
  std::filesystem::create_directory(s.path("taken"));
  EXPECT_EQ(writeAtomically(s.path("taken"), "x"), "Is a directory");  // refused at once
  EXPECT_TRUE(std::filesystem::is_directory(s.path("taken")));
  EXPECT_EQ(names(s.dir()), std::vector<std::string>{"taken"});
}

TEST(AtomicFile, BarePathIsInTheWorkingFolder) {
  Scratch s;
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(s.dir());
  {
    AtomicFile f("bare.png");
    ASSERT_TRUE(f.ok());
    writeFile(f.tempPath(), "x");
    EXPECT_FALSE(f.commit());
  }
  std::filesystem::current_path(before);
  EXPECT_EQ(readFile(s.path("bare.png")), "x");
}
