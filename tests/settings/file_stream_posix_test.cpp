#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "settings/file_stream.h"
#include "settings/ini_file.h"
#include "host/temp_folder.h"

namespace kiv {
namespace {

// Lets this process write files of at most `bytes` bytes, as a full disk would, while it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldSignal_ = ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, oldSignal_);
  }

 private:
  rlimit old_{};
  sighandler_t oldSignal_;
};

TEST(ReplaceFileContents, WriteThatFailsHalfWayKeepsTheOldContentsWhole) {
  test::TempFolder dir;
  const std::string file = dir.Path("a.ini");
  const std::string old = "[Common]\r\nA=1\r\n" + std::string(1000, 'x');
  test::WriteFileBytes(file, old);
  {
    FileSizeLimit limit(4096);
    EXPECT_THROW(ReplaceFileContents(file, std::string(10000, 'n')), EWriteError);
  }
  EXPECT_EQ(test::ReadFileBytes(file), old);

  TkivIniFile ini(file);  // the INI file writes through it
  ini.WriteString("Common", "B", std::string(10000, 'n'));
  {
    FileSizeLimit limit(4096);
    EXPECT_THROW(ini.UpdateFile(), EWriteError);
  }
  EXPECT_TRUE(ini.Changed());
  EXPECT_EQ(test::ReadFileBytes(file), old);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"a.ini"});
}

TEST(ReplaceFileContents, KeepsThePermissionsOfTheFile) {
  test::TempFolder dir;
  const std::string file = dir.Path("a.ini");
  test::WriteFileBytes(file, "old");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ReplaceFileContents(file, "new");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(test::ReadFileBytes(file), "new");
}

}  // namespace
}  // namespace kiv
