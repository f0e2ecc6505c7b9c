// src_load_settings and src_save_settings on settings files a desktop may really hold: read-only,
// a folder, in a missing folder, 50 MB, binary junk, no final line break, CRLF. Both return 0,
// nothing crashes, and whatever else the file holds is still there afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "common/text.hpp"
#include "host/exports.hpp"
#include "host/host_state.hpp"
#include "os/ini_text.hpp"

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& file) {
  std::ostringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

void put(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

std::string junk(std::size_t bytes) {
  std::mt19937 random(7);
  std::string text(bytes, '\0');
  for (char& c : text) c = static_cast<char>(random());
  return text;
}

// A record with no default in it, so that a save that did nothing cannot pass for one that did.
void set_record(std::int32_t instance) {
  qv::InstanceSettings& record = *qv::instance_record(instance);
  record.selectedOption = 42;
  qv::store_text(record.outputTemplate, " %lip:%lpt %hn ");
  record.rangeLow = 10000000001;
  record.rangeHigh = 10000000099;
  record.filterEnabled = 1;
  record.hideZeroAddress = 1;
  record.noLeadingZeros = 1;
}

bool has_saved_record(const qv::InstanceSettings& record) {
  return record.selectedOption == 42 &&
         qv::field_text(record.outputTemplate) == " %lip:%lpt %hn " &&
         record.rangeLow == 10000000001 && record.rangeHigh == 10000000099 &&
         record.filterEnabled == 1 && record.hideZeroAddress == 1 && record.noLeadingZeros == 1;
}

bool has_defaults(const qv::InstanceSettings& record) {
  return record.selectedOption == 10003 && record.outputTemplate[0] == '\0' &&
         record.rangeLow == 192168000001 && record.rangeHigh == 192168000255 &&
         record.filterEnabled == 0 && record.hideZeroAddress == 0 && record.noLeadingZeros == 0;
}

std::string value_in(const std::string& text, const char* section, const char* key) {
  char buffer[1000];
  ini::read_value(text, section, key, "(missing)", buffer);
  return buffer;
}

class OddSettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvane-odd-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder = pattern;
    quorvane_process_attach();
    ASSERT_EQ(dllstartup(0, 0), 1);
    ASSERT_EQ(dllstartup(0, 0), 2);
  }
  void TearDown() override {
    quorvane_process_detach();
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(folder);
  }

  fs::path folder;
};

// Files that hold other settings around ours: saving rewrites our keys and keeps every other
// line; loading then gives back what was saved.
struct WritableCase {
  const char* what;
  std::string before;
  const char* lineBreak;  // what the lines that the save adds must end with
};

TEST_F(OddSettingsFile, SavingKeepsEverythingElseInTheFile) {
  const std::string noise = junk(4096);
  const WritableCase cases[] = {
      {"no final line break", "[Other]\nk=v\n[Meter]\nSot=7\nTemplate=old", "\n"},
      {"CRLF", "; note\r\n[Meter]\r\nSot=7\r\n\r\n[Other]\r\nk=v\r\n", "\r\n"},
      {"CRLF, no final line break", "[Meter]\r\nSot=7\r\n[Other]\r\nk=v", "\r\n"},
      {"binary junk before the sections", noise + "\n[Other]\nk=v\n[Meter]\nzero=5\n", "\n"},
      {"binary junk after the sections", "[Other]\nk=v\n" + noise, "\n"},
      {"empty", "", "\r\n"},
  };
  for (const WritableCase& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path file = folder / "settings.ini";
    put(file, c.before);
    set_record(1);
    EXPECT_EQ(src_save_settings(1, file.c_str(), "Meter"), 0);
    const std::string after = contents(file);
    // What the junk says is not ours to judge: it must come back byte for byte.
    if (c.before.find(noise) != std::string::npos) {
      EXPECT_NE(after.find(noise), std::string::npos);
    }
    EXPECT_EQ(value_in(after, "Other", "k"), value_in(c.before, "Other", "k"));
    EXPECT_EQ(value_in(after, "Meter", "Sot"), "42");
    if (c.before.find_first_of("\r\n") != std::string::npos || c.before.empty()) {
      EXPECT_NE(after.find(std::string("zero=1") + c.lineBreak), std::string::npos);
    }
    EXPECT_EQ(src_load_settings(2, file.c_str(), "Meter"), 0);
    EXPECT_TRUE(has_saved_record(*qv::instance_record(2)));
  }
}

// Files that cannot or must not be written: the exports still return 0, the file (or folder)
// stays as it was, and loading gives what it can read: the file's values, else the defaults.
struct UnwritableCase {
  const char* what;
  fs::path (*make)(const fs::path& folder);
  bool readable;  // loading gives the file's values rather than the defaults
};

TEST_F(OddSettingsFile, FilesThatCannotBeWrittenStayAsTheyAre) {
  const UnwritableCase cases[] = {
      {"read-only file",
       [](const fs::path& folder) {
         fs::path file = folder / "readonly.ini";
         put(file, "[Meter]\nSot=42\n[Other]\nk=v\n");
         fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
         return file;
       },
       true},
      {"a folder",
       [](const fs::path& folder) {
         fs::path file = folder / "folder.ini";
         fs::create_directory(file);
         put(file / "inside", "kept");
         return file;
       },
       false},
      {"in a missing folder",
       [](const fs::path& folder) { return folder / "no" / "such" / "settings.ini"; }, false},
      {"50 MB",
       [](const fs::path& folder) {
         fs::path file = folder / "huge.ini";
         std::string text = "[Meter]\nSot=42\n[Other]\nk=v\n";
         text += std::string(50 << 20, 'x');
         put(file, text);
         return file;
       },
       false},
  };
  for (const UnwritableCase& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path file = c.make(folder);
    const bool existed = fs::exists(file);
    const std::string before = fs::is_regular_file(file) ? contents(file) : "";
    const auto beforeTime = existed ? fs::last_write_time(file) : fs::file_time_type{};
    set_record(1);
    qv::instance_record(1)->selectedOption = 7;
    EXPECT_EQ(src_save_settings(1, file.c_str(), "Meter"), 0);
    EXPECT_EQ(fs::exists(file), existed);
    if (existed) {
      EXPECT_EQ(fs::last_write_time(file), beforeTime);
    }
    if (fs::is_regular_file(file)) {
      EXPECT_EQ(contents(file), before);
    }
    if (fs::is_directory(file)) {
      EXPECT_EQ(contents(file / "inside"), "kept");
    }

    set_record(2);
    EXPECT_EQ(src_load_settings(2, file.c_str(), "Meter"), 0);
    const qv::InstanceSettings& loaded = *qv::instance_record(2);
    if (c.readable) {
      EXPECT_EQ(loaded.selectedOption, 42);
    } else {
      EXPECT_TRUE(has_defaults(loaded));
    }
  }
  // Nothing was left behind beside the files: no temporary file of a failed save.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++entries;
  EXPECT_EQ(entries, 3U);
}

TEST_F(OddSettingsFile, NamesThatAreNoFileReturnZero) {
  set_record(1);
  for (const char* name : {"", "/", "/proc/self/status", "/dev/null"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(src_save_settings(1, name, "Meter"), 0);
    EXPECT_EQ(src_load_settings(2, name, "Meter"), 0);
    EXPECT_TRUE(has_defaults(*qv::instance_record(2)));
  }
  EXPECT_EQ(src_save_settings(1, nullptr, nullptr), 0);
  EXPECT_EQ(src_load_settings(2, nullptr, nullptr), 0);
  EXPECT_TRUE(has_defaults(*qv::instance_record(2)));
}

}  // namespace
