// The platform side of running as a service: the state directory, one instance per directory,
// and recognising the journal on standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/service_notify.h"
#include "platform/single_instance.h"
#include "platform/state_directory.h"
#include "support/temp_dir.h"

namespace qv::platform {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(StateDirectoryTest, CreatesMissingLevelsWithMode0750AndResolvesThePath) {
  test::TempDir root;
  const mode_t old = ::umask(077);  // the mode stands whatever the umask
  const std::string made = PrepareStateDirectory(root.Path() + "/a//b/c/");
  ::umask(old);
  EXPECT_EQ(made, std::filesystem::canonical(root.Path()).string() + "/a/b/c");
  EXPECT_EQ(ModeOf(root.Path() + "/a"), 0750u);
  EXPECT_EQ(ModeOf(root.Path() + "/a/b/c"), 0750u);

  // An existing directory keeps its mode; a link leads to the directory it names.
  ASSERT_EQ(::chmod(root.Path().c_str(), 0755), 0);
  std::filesystem::create_directory_symlink(root.Path() + "/a/b", root.Path() + "/link");
  EXPECT_EQ(PrepareStateDirectory(root.Path() + "/link/c"), made);
  EXPECT_EQ(ResolveDirectory(root.Path() + "/link/c/"), made);
  EXPECT_EQ(ModeOf(root.Path()), 0755u);

  // A file in the way, or nothing at all, is an error that names the path.
  root.Write("file", "x");
  try {
    PrepareStateDirectory(root.Path() + "/file/sub");
    ADD_FAILURE() << "no error";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find(root.Path() + "/file"), std::string::npos) << e.what();
  }
  EXPECT_THROW(PrepareStateDirectory(""), std::system_error);
  EXPECT_EQ(ResolveDirectory(root.Path() + "/missing"), "");
  EXPECT_EQ(ResolveDirectory(root.Path() + "/file"), "");
}

TEST(StateDirectoryTest, ScratchDirectoryGoesWithItsFiles) {
  std::string path;
  {
    ScratchDirectory scratch;
    path = scratch.Path();
    ASSERT_TRUE(std::filesystem::is_directory(path));
    std::filesystem::create_directory(path + "/POP3");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SingleInstanceTest, OneServerPerDirectoryEvenForLongPaths) {
  const std::string a = "/srv/" + std::string(150, 'a');
  const std::string b = "/srv/" + std::string(149, 'a') + "b";
  // Too long for a socket name: hashed, still telling the two apart.
  EXPECT_NE(DirectoryInstanceName(a), DirectoryInstanceName(b));
  EXPECT_LT(DirectoryInstanceName(a).size(), 107u);
  EXPECT_EQ(DirectoryInstanceName(a), DirectoryInstanceName(a));
  EXPECT_NE(DirectoryInstanceName("/var/lib/quorvane"), ServerInstanceName());

  SingleInstance first(DirectoryInstanceName(a));
  ASSERT_TRUE(first.Acquired());
  EXPECT_FALSE(SingleInstance(DirectoryInstanceName(a)).Acquired());
  EXPECT_TRUE(SingleInstance(DirectoryInstanceName(b)).Acquired());
}

TEST(ServiceNotifyTest, JournalStreamMustNameTheDescriptorsFile) {
  test::TempDir dir;
  dir.Write("out", "");
  const int fd = ::open(dir.File("out").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct stat st {};
  ASSERT_EQ(::fstat(fd, &st), 0);
  const std::string device = std::to_string(st.st_dev);
  const std::string inode = std::to_string(st.st_ino);
  EXPECT_TRUE(MatchesJournalStream(fd, (device + ":" + inode).c_str()));
  EXPECT_FALSE(MatchesJournalStream(fd, (device + ":" + std::to_string(st.st_ino + 1)).c_str()));
  EXPECT_FALSE(MatchesJournalStream(fd, (device + ":" + inode + "x").c_str()));
  EXPECT_FALSE(MatchesJournalStream(fd, ""));
  EXPECT_FALSE(MatchesJournalStream(fd, nullptr));
  EXPECT_FALSE(MatchesJournalStream(-1, (device + ":" + inode).c_str()));
  ::close(fd);
}

}  // namespace
}  // namespace qv::platform
