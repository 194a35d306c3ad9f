#include "platform/posix/files/file_identity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/xattr.h>

#include "platform/posix/files/unique_fd.h"
#include "support/scratch_folder.h"

namespace vendrel::platform {
namespace {

using testing::ScratchFolder;
using testing::WriteFile;

std::string Attribute(const std::string& path, const char* name) {
  char value[64];
  ssize_t size = getxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? "<none>" : std::string(value, static_cast<std::size_t>(size));
}

TEST(FileIdentityTest, TheNewFileCarriesTheOldOnesAttributesAndModeAndNoOthers) {
  ScratchFolder dir;
  const std::string old_file = dir / "old";
  const std::string new_file = dir / "new";
  WriteFile(old_file, "old");
  WriteFile(new_file, "new");
  chmod(old_file.c_str(), 0640);
  if (setxattr(old_file.c_str(), "user.origin", "installer", 9, 0) != 0) {
    GTEST_SKIP() << "this file system keeps no user attributes";
  }
  ASSERT_EQ(setxattr(new_file.c_str(), "user.stray", "x", 1, 0), 0);
  UniqueFd from(open(old_file.c_str(), O_RDONLY));
  UniqueFd to(open(new_file.c_str(), O_RDWR));
  struct stat st;
  ASSERT_EQ(fstat(from.get(), &st), 0);
  ASSERT_TRUE(CarryIdentity(from.get(), st, to.get()));
  EXPECT_EQ(Attribute(new_file, "user.origin"), "installer");
  EXPECT_EQ(Attribute(new_file, "user.stray"), "<none>");
  struct stat now;
  ASSERT_EQ(stat(new_file.c_str(), &now), 0);
  EXPECT_EQ(now.st_mode & 07777, 0640u);
  EXPECT_EQ(now.st_uid, st.st_uid);
  EXPECT_EQ(now.st_gid, st.st_gid);
}

}  // namespace
}  // namespace vendrel::platform
