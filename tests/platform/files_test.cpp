#include "platform/files.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/temp_dir.h"

namespace qv::platform {
namespace {

TEST(FilesTest, UnsharedOpenRefusesASecondOpenAlsoFromAnotherThread) {
  test::TempDir dir;
  const std::string path = dir.File("data.qdb");
  File first = File::Open(path, OpenMode::CreateReadWrite);
  EXPECT_FALSE(File::TryOpen(path, OpenMode::ReadWrite).has_value());
  bool otherThreadOpened = true;
  std::thread([&] { otherThreadOpened = File::TryOpen(path, OpenMode::Read).has_value(); }).join();
  EXPECT_FALSE(otherThreadOpened);
  EXPECT_THROW(File::Open(path, OpenMode::Read), FileError);
  first.Close();
  EXPECT_TRUE(File::TryOpen(path, OpenMode::ReadWrite).has_value());
}

TEST(FilesTest, ShortReadsAreErrorsAndPositionsAreAbsolute) {
  test::TempDir dir;
  File f = File::Open(dir.File("a.bin"), OpenMode::CreateTruncate);
  f.WriteAt(10, "xyz", 3);
  EXPECT_EQ(f.Size(), 13);
  char buf[8] = {};
  f.ReadAt(10, buf, 3);
  EXPECT_EQ(std::string(buf, 3), "xyz");
  EXPECT_THROW(f.ReadAt(11, buf, 3), FileError);
  f.Seek(2);
  f.WriteAt(0, "ab", 2);
  EXPECT_EQ(f.Position(), 2) << "writes at a position leave the current one alone";
  f.Seek(0);
  EXPECT_EQ(f.ReadSome(buf, 8), 8u);
  f.Truncate(4);
  EXPECT_EQ(f.Size(), 4);
  EXPECT_THROW(File::Open(dir.File("missing"), OpenMode::ReadWrite), FileError);
}

TEST(FilesTest, NameHelpers) {
  EXPECT_EQ(ChangeExtension("/data/group.qdb", ".arc"), "/data/group.arc");
  EXPECT_EQ(ChangeExtension("/data.d/group", ".arc"), "/data.d/group.arc");
  EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
  EXPECT_TRUE(IsPlainFileName("pc7.bin"));
  EXPECT_TRUE(IsPlainFileName("...bin"));
  EXPECT_FALSE(IsPlainFileName("../x.bin"));
  EXPECT_FALSE(IsPlainFileName("a/b.bin"));
  EXPECT_FALSE(IsPlainFileName(".."));
  EXPECT_FALSE(IsPlainFileName(""));
  EXPECT_FALSE(IsPlainFileName(std::string("a\0b", 3)));
}

}  // namespace
}  // namespace qv::platform
