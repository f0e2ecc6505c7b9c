// The Linux settings file layer on awkward files: missing, unwritable, not a file, too large,
// binary, through a link; a write changes only its own line and leaves no stray files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "os/os.hpp"

namespace {

class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvane-profile-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  std::string path(const char* name) const { return folder + "/" + name; }

  static void put(const std::string& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }
  static std::string contents(const std::string& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
  }
  static std::string read(const std::string& file, const char* section, const char* key) {
    char buffer[64];
    os::read_profile_string(section, key, "default", buffer, file.c_str());
    return buffer;
  }
  [[nodiscard]] std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  std::string folder;
};

TEST_F(ProfileFileTest, MissingFileReadsDefaultsAndIsCreatedOnWrite) {
  const std::string file = path("new.ini");
  EXPECT_EQ(read(file, "Meter", "Sot"), "default");
  EXPECT_TRUE(os::write_profile_string("Meter", "Sot", "10003", file.c_str()));
  EXPECT_TRUE(os::write_profile_string("Meter", "Template", "%lip", file.c_str()));
  EXPECT_EQ(contents(file), "[Meter]\r\nSot=10003\r\nTemplate=%lip\r\n");
  struct stat info;
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
  EXPECT_EQ(entries(), std::vector<std::string>{"new.ini"});
}

TEST_F(ProfileFileTest, WriteChangesOnlyItsLineInAwkwardFiles) {
  const std::string junk("\x00\x01\xff\xfe[bin\x00]=\r\r\n\x7f", 15);
  const std::string files[][2] = {
      {"[a]\r\n; note\r\nk = 1 \r\n\r\n[b]\r\nk=2", "[a]\r\n; note\r\nk =9\r\n\r\n[b]\r\nk=2"},
      {"[a]\nk=1\nk=dup\n[A]\nk=3\n", "[a]\nk=9\nk=dup\n[A]\nk=3\n"},
      {junk + "\n[a]\nk=1", junk + "\n[a]\nk=9"},
      {junk, junk + "\r[a]\rk=9\r"},  // the first line break of the file is a lone CR
  };
  for (const auto& [before, after] : files) {
    const std::string file = path("odd.ini");
    put(file, before);
    EXPECT_TRUE(os::write_profile_string("a", "k", "9", file.c_str()));
    EXPECT_EQ(contents(file), after);
    EXPECT_EQ(read(file, "A", "K"), "9");
  }
  EXPECT_EQ(entries(), std::vector<std::string>{"odd.ini"});
}

TEST_F(ProfileFileTest, PermissionsAndLinksSurviveAWrite) {
  const std::string file = path("kept.ini");
  put(file, "[a]\nk=1\n");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ASSERT_EQ(::symlink("kept.ini", path("link.ini").c_str()), 0);
  EXPECT_TRUE(os::write_profile_string("a", "k", "2", path("link.ini").c_str()));
  struct stat info;
  ASSERT_EQ(::lstat(path("link.ini").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640U);
  EXPECT_EQ(contents(file), "[a]\nk=2\n");
}

TEST_F(ProfileFileTest, FilesThatCannotBeWrittenStayAsTheyAre) {
  const std::string readOnly = path("readonly.ini");
  put(readOnly, "[a]\nk=1\n");
  ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
  EXPECT_FALSE(os::write_profile_string("a", "k", "2", readOnly.c_str()));
  EXPECT_EQ(contents(readOnly), "[a]\nk=1\n");
  EXPECT_EQ(read(readOnly, "a", "k"), "1");

  const std::string missingFolder = path("no/such/folder.ini");
  EXPECT_FALSE(os::write_profile_string("a", "k", "2", missingFolder.c_str()));
  EXPECT_EQ(read(missingFolder, "a", "k"), "default");

  EXPECT_FALSE(os::write_profile_string("a", "k", "2", folder.c_str()));
  EXPECT_EQ(read(folder, "a", "k"), "default");

  EXPECT_FALSE(os::write_profile_string("a", "k", "2", nullptr));
  EXPECT_FALSE(os::write_profile_string("a", "k", "2", ""));
  EXPECT_EQ(read("", "a", "k"), "default");
  char buffer[16];
  os::read_profile_string("a", "k", "default", buffer, nullptr);
  EXPECT_STREQ(buffer, "default");
  EXPECT_EQ(entries(), std::vector<std::string>{"readonly.ini"});
}

TEST_F(ProfileFileTest, PipesAndHugeFilesAreNotRead) {
  const std::string pipe = path("pipe.ini");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(read(pipe, "a", "k"), "default");  // returns at once: no writer is waited for
  EXPECT_FALSE(os::write_profile_string("a", "k", "2", pipe.c_str()));

  const std::string huge = path("huge.ini");
  put(huge, "[a]\nk=1\n");
  ASSERT_EQ(::truncate(huge.c_str(), off_t{64} << 20), 0);
  EXPECT_EQ(read(huge, "a", "k"), "default");
  EXPECT_FALSE(os::write_profile_string("a", "k", "2", huge.c_str()));
  struct stat info;
  ASSERT_EQ(::stat(huge.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, off_t{64} << 20);
}

}  // namespace
