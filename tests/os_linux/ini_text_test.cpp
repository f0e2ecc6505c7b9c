// Profile text rules: what a read answers (as measured on Wine's profile service) and what a write
// changes (one line, or one added line or section; every other byte kept).
#include "os/ini_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ReadCase {
  const char* what;
  std::string file;
  const char* section;
  const char* key;
  const char* defaultText;
  std::size_t size;
  std::string expected;
};

TEST(IniTextRead, AnswersAsTheProfileServiceDoes) {
  const std::string awkward =
      "k=top\r\n"
      "[ Sec ]  \r\n"
      "  Key  =  spaced value  \r\n"
      "key=second of the name\r\n"
      "empty=\r\n"
      "bare\r\n"
      ";semi=not a comment\r\n"
      "quoted=\"  inner  \"\r\n"
      "single='x'\r\n"
      "half=\"open\r\n"
      "mixed=\"x'\r\n"
      "lone=\"\r\n"
      "inner=\"a\"b\"\r\n"
      "eq = a = b\r\n"
      "ctlz=\x1avalue\x1a\r\n"
      "nul=ab" +
      std::string(1, '\0') +
      "cd\r\n"
      "[c\r\n"
      "afterbroken=1\r\n"
      "[SEC]\r\n"
      "later=only in the second section of the name\r\n"
      "[t] trailing\r\n"
      "x=t\r\n"
      "[u] v]w\r\n"
      "x=u\r\n";
  const std::vector<ReadCase> cases = {
      {"names ignore case and blanks", awkward, "sec", "KEY", "d", 100, "spaced value"},
      {"the caller's names are trimmed too", awkward, " Sec ", " key ", "d", 100, "spaced value"},
      {"lines before any section", awkward, "", "k", "d", 100, "top"},
      {"empty value", awkward, "Sec", "empty", "d", 100, ""},
      {"a line without = answers the default", awkward, "Sec", "bare", "d", 100, "d"},
      {"; starts no comment", awkward, "Sec", ";semi", "d", 100, "not a comment"},
      {"double quotes removed, inner blanks kept", awkward, "Sec", "quoted", "d", 100, "  inner  "},
      {"single quotes removed", awkward, "Sec", "single", "d", 100, "x"},
      {"unclosed quote kept", awkward, "Sec", "half", "d", 100, "\"open"},
      {"different quotes kept", awkward, "Sec", "mixed", "d", 100, "\"x'"},
      {"a lone quote kept", awkward, "Sec", "lone", "d", 100, "\""},
      {"only the outer pair goes", awkward, "Sec", "inner", "d", 100, "a\"b"},
      {"value runs past a second =", awkward, "Sec", "eq", "d", 100, "a = b"},
      {"Ctrl-Z trimmed as a blank", awkward, "Sec", "ctlz", "d", 100, "value"},
      {"a NUL ends the value", awkward, "Sec", "nul", "d", 100, "ab"},
      {"a [ line without ] stays in its section", awkward, "Sec", "afterbroken", "d", 100, "1"},
      {"only the first section of a name counts", awkward, "Sec", "later", "d", 100, "d"},
      {"text after ] ignored", awkward, "t", "x", "d", 100, "t"},
      {"the name runs to the last ]", awkward, "u] v", "x", "d", 100, "u"},
      {"missing key", awkward, "Sec", "none", "fallback", 100, "fallback"},
      {"missing section", awkward, "none", "k", "fallback", 100, "fallback"},
      {"missing file", "", "Sec", "k", "fallback", 100, "fallback"},
      {"default loses trailing blanks only", "", "s", "k", "  d  ", 100, "  d"},
      {"default loses its quotes", "", "s", "k", "\"d\"", 100, "d"},
      {"null default", "", "s", "k", nullptr, 100, ""},
      {"null section and key", awkward, nullptr, nullptr, "d", 100, "d"},
      {"value cut to the buffer", "[s]\nk=abcdef\n", "s", "k", "d", 4, "abc"},
      {"default cut to the buffer", "", "s", "k", "abcdef", 4, "abc"},
      {"quoted value cut", "[s]\nk=\"abcdef\"\n", "s", "k", "d", 4, "abc"},
      // Wine: a quoted value exactly as long as the buffer loses one more character.
      {"quoted value filling the buffer", "[s]\nk=\"abcdef\"\n", "s", "k", "d", 7, "abcde"},
      {"quoted value with room", "[s]\nk=\"abcdef\"\n", "s", "k", "d", 8, "abcdef"},
      {"quotes in a one-byte buffer", "[s]\nk=\"\"\n", "s", "k", "d", 1, ""},
      {"lone CR ends a line", "[s]\rk=1\rj=2", "s", "j", "d", 100, "2"},
      {"LF file without final line break", "[s]\nk=1\n[t]\nk=2", "t", "k", "d", 100, "2"},
      {"non-ASCII letters are not folded", "[\xC9]\nk=1\n", "\xE9", "k", "d", 100, "d"},
  };
  for (const ReadCase& c : cases) {
    std::vector<char> buffer(c.size, '#');
    const std::size_t count = ini::read_value(c.file, c.section, c.key, c.defaultText, buffer);
    EXPECT_EQ(std::string(buffer.data()), c.expected) << c.what;
    EXPECT_EQ(count, c.expected.size()) << c.what;
  }
}

TEST(IniTextRead, EmptyBufferTakesNothing) {
  char untouched = '#';
  EXPECT_EQ(ini::read_value("[s]\nk=v\n", "s", "k", "d", {&untouched, 0}), 0U);
  EXPECT_EQ(untouched, '#');
}

struct WriteCase {
  const char* what;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

TEST(IniTextWrite, ChangesOneLineAndKeepsEveryOtherByte) {
  const std::vector<WriteCase> cases = {
      {"new file", "", "Meter", "Sot", "1", "[Meter]\r\nSot=1\r\n"},
      {"replace in place, CRLF", "; head\r\n[a]\r\n  k = old  \r\nj=2\r\n", "A", "K", "new",
       "; head\r\n[a]\r\n  k =new\r\nj=2\r\n"},
      {"replace the first of duplicates", "[a]\nk=1\nk=2\n", "a", "k", "3", "[a]\nk=3\nk=2\n"},
      {"give a bare key its value", "[a]\nbare\n", "a", "bare", "v", "[a]\nbare=v\n"},
      {"replace without final line break", "[a]\nk=1", "a", "k", "2", "[a]\nk=2"},
      {"add at the end of the section, before blank lines", "[a]\nk=1\n\n[b]\nx=1\n", "a", "j", "2",
       "[a]\nk=1\nj=2\n\n[b]\nx=1\n"},
      {"add to the first section of the name", "[a]\nk=1\n[A]\nj=1\n", "a", "j", "2",
       "[a]\nk=1\nj=2\n[A]\nj=1\n"},
      {"add after a header that ends the file", "[a]", "a", "k", "v", "[a]\r\nk=v\r\n"},
      {"add to the last section without final line break", "[a]\nk=1", "a", "j", "2",
       "[a]\nk=1\nj=2\n"},
      {"new section at the end, LF", "[a]\nk=1\n", "b", "k", "v", "[a]\nk=1\n[b]\nk=v\n"},
      {"new section after a missing final line break", "[a]\r\nk=1", " b ", " k ", "v",
       "[a]\r\nk=1\r\n[b]\r\nk=v\r\n"},
      {"key before any section", "x=1\n[a]\nk=1\n", "", "y", "2", "x=1\ny=2\n[a]\nk=1\n"},
      {"comments and odd lines kept", "[a]\n;c=1\n  # note\n[broken\nk=1\n", "a", "k", "2",
       "[a]\n;c=1\n  # note\n[broken\nk=2\n"},
      {"CR-only file", "[a]\rk=1\r", "a", "j", "2", "[a]\rk=1\rj=2\r"},
      {"null value writes an empty one", "[a]\nk=1\n", "a", "k", nullptr, "[a]\nk=\n"},
  };
  for (const WriteCase& c : cases) {
    EXPECT_EQ(ini::write_value(c.before, c.section, c.key, c.value), c.after) << c.what;
  }
}

TEST(IniTextWrite, ReadsBackWhatItWrote) {
  const std::string files[] = {"", "[s]\r\nk=1\r\n", "[S]\nk=1\n[s]\nj=2", "junk\x01\x02\n[s"};
  for (const std::string& file : files) {
    const std::string written = ini::write_value(file, "s", "k", "value");
    char buffer[32];
    ini::read_value(written, "S", "K", "d", buffer);
    EXPECT_STREQ(buffer, "value") << file;
  }
}

}  // namespace
