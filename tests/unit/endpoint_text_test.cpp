// The command's field texts: RFC 5952 addresses, endpoint texts, escaped names, JSON and CSV.
#include "command/endpoint_text.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "command/json.hpp"
#include "common/utf8.hpp"
#include "endpoint_builder.hpp"

namespace {

using test_address::v4;
using test_address::v6;

using test_endpoint::socket_row;

TEST(AddressText, Rfc5952) {
  const struct {
    const char* input;
    const char* text;
  } cases[] = {
      {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},  // leading zeros dropped
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},               // first of equal runs
      {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},                     // the longest run
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},            // one zero group stays
      {"2001:DB8::AB:CD", "2001:db8::ab:cd"},                      // lower case
      {"0:0:0:0:0:0:0:0", "::"},
      {"0:0:0:0:0:0:0:1", "::1"},
      {"1:0:0:0:0:0:0:0", "1::"},
      {"fe80:0:0:0:200:5eff:fe00:5301", "fe80::200:5eff:fe00:5301"},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
      {"0:1:0:1:0:1:0:1", "0:1:0:1:0:1:0:1"},
      {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},  // mapped: dotted tail
      {"::ffff:0:1", "::ffff:0.0.0.1"},
      {"::fffe:c000:201", "::fffe:c000:201"},  // not mapped
  };
  for (const auto& c : cases) {
    EXPECT_EQ(qv::address_text(os::kFamilyIpv6, v6(c.input)), c.text) << c.input;
  }
  EXPECT_EQ(qv::address_text(os::kFamilyIpv4, v4(192, 168, 0, 10)), "192.168.0.10");
  EXPECT_EQ(qv::address_text(os::kFamilyIpv4, v4(0, 0, 0, 0)), "0.0.0.0");
}

TEST(AddressText, AgreesWithInetNtopOverManyAddresses) {
  // inet_ntop is the oracle here only, for addresses without a mapped or compatible IPv4 tail.
  std::mt19937 random(5952);
  for (int i = 0; i < 20000; ++i) {
    std::array<std::uint8_t, 16> address{};
    for (std::size_t g = 0; g < 8; ++g) {
      const auto group = random() % 3 == 0 ? 0U : static_cast<unsigned>(random() % 0x10000);
      address[2 * g] = static_cast<std::uint8_t>(group >> 8);
      address[2 * g + 1] = static_cast<std::uint8_t>(group);
    }
    address[0] |= 0x20;  // keeps glibc from writing an IPv4 tail
    char expected[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, address.data(), expected, sizeof expected);
    ASSERT_EQ(qv::address_text(os::kFamilyIpv6, address), expected);
  }
}

TEST(EndpointText, AsSsWritesThem) {
  EXPECT_EQ(qv::local_endpoint_text(socket_row({.local = {v4(127, 0, 0, 1), 80}})), "127.0.0.1:80");
  EXPECT_EQ(qv::remote_endpoint_text(socket_row({.local = {v4(127, 0, 0, 1), 80}})), "0.0.0.0:*");
  const auto connected = socket_row({.family = os::kFamilyIpv6,
                                     .local = {v6("::1"), 8080},
                                     .remote = {v6("::ffff:127.0.0.1"), 40000}});
  EXPECT_EQ(qv::local_endpoint_text(connected), "[::1]:8080");
  EXPECT_EQ(qv::remote_endpoint_text(connected), "[::ffff:127.0.0.1]:40000");
  const auto dual = socket_row({.family = os::kFamilyIpv6, .local = {{}, 8080}});
  EXPECT_EQ(qv::local_endpoint_text(dual), "*:8080");
  EXPECT_EQ(qv::remote_endpoint_text(dual), "*:*");
  EXPECT_EQ(qv::endpoint_address_text(dual, dual.local.address), "*");
  const auto only6 = socket_row({.family = os::kFamilyIpv6, .ipv6Only = true, .local = {{}, 8081}});
  EXPECT_EQ(qv::local_endpoint_text(only6), "[::]:8081");
  EXPECT_EQ(qv::remote_endpoint_text(only6), "[::]:*");
  EXPECT_EQ(qv::endpoint_address_text(only6, only6.local.address), "::");
}

std::string escaped_name(std::string_view name) {
  return qv::terminal_safe(name, qv::UnsafeText::escape);
}

TEST(EscapedName, ControlBytesAndBackslashAsLsWritesThem) {
  EXPECT_EQ(escaped_name("firefox"), "firefox");
  EXPECT_EQ(escaped_name("odd\x1b[2J\nname"), "odd\\033[2J\\nname");
  EXPECT_EQ(escaped_name("a\tb\rc\ad\be\vf\fg"), "a\\tb\\rc\\ad\\be\\vf\\fg");
  EXPECT_EQ(escaped_name("back\\slash"), "back\\\\slash");
  EXPECT_EQ(escaped_name(std::string("nul\0x\x7f\x01", 7)), "nul\\000x\\177\\001");
  // UTF-8 stays; a byte that is not UTF-8 is escaped as `ls -b` writes it.
  EXPECT_EQ(escaped_name("caf\xc3\xa9 \xff"), "caf\xc3\xa9 \\377");
  // The C1 controls in UTF-8 (CSI is U+009B) drive terminals too; U+00A0 is printable.
  EXPECT_EQ(escaped_name("a\xc2\x9b"
                         "2Jb\xc2\x80\xc2\xa0"),
            "a\\302\\2332Jb\\302\\200\xc2\xa0");
  // What the one reader refuses is escaped byte by byte: a lead byte cut short, an overlong
  // form, an encoded surrogate, a value past U+10FFFF, a stray continuation byte.
  EXPECT_EQ(escaped_name("\xc2"), "\\302");
  EXPECT_EQ(escaped_name("a\xe2\x82"), "a\\342\\202");
  EXPECT_EQ(escaped_name("\xe0\x80\x80|\xc0\xaf"), "\\340\\200\\200|\\300\\257");
  EXPECT_EQ(escaped_name("\xed\xa0\x80"), "\\355\\240\\200");
  EXPECT_EQ(escaped_name("\xf4\x90\x80\x80"), "\\364\\220\\200\\200");
  EXPECT_EQ(escaped_name("\x80"), "\\200");
  // The largest values of each length are read whole.
  EXPECT_EQ(escaped_name("\xed\x9f\xbf\xf4\x8f\xbf\xbf"), "\xed\x9f\xbf\xf4\x8f\xbf\xbf");
  // Escaping once: an escaped name escaped again shows its backslashes, it is never taken for
  // the character it stands for.
  EXPECT_EQ(escaped_name(escaped_name("\x1b")), "\\\\033");
}

// A JSON string literal decoded the way Python's json.loads and then
// .encode("utf-8", "surrogateescape") read it; checks that nothing raw is unsafe on the way.
std::string decode_json_string(const std::string& literal) {
  EXPECT_GE(literal.size(), 2U);
  EXPECT_EQ(literal.front(), '"');
  EXPECT_EQ(literal.back(), '"');
  std::string bytes;
  const auto put_code_point = [&](unsigned cp) {
    if (cp >= 0xDC80 && cp <= 0xDCFF) {
      bytes += static_cast<char>(cp - 0xDC00);
    } else if (cp < 0x80) {
      bytes += static_cast<char>(cp);
    } else if (cp < 0x800) {
      bytes += static_cast<char>(0xC0 | cp >> 6);
      bytes += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      EXPECT_FALSE(cp >= 0xD800 && cp <= 0xDFFF) << "unpaired surrogate " << cp;
      bytes += static_cast<char>(0xE0 | cp >> 12);
      bytes += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      bytes += static_cast<char>(0x80 | (cp & 0x3F));
    }
  };
  for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
    const auto c = static_cast<unsigned char>(literal[i]);
    EXPECT_TRUE(c >= 0x20 && c != 0x7F && c != '"') << "raw byte " << int(c) << " in " << literal;
    if (c != '\\') {
      bytes += static_cast<char>(c);
      continue;
    }
    const char kind = literal[++i];
    switch (kind) {
      case 'u':
        put_code_point(static_cast<unsigned>(std::stoul(literal.substr(i + 1, 4), nullptr, 16)));
        i += 4;
        break;
      case 'n':
        bytes += '\n';
        break;
      case 't':
        bytes += '\t';
        break;
      case 'r':
        bytes += '\r';
        break;
      case 'b':
        bytes += '\b';
        break;
      case 'f':
        bytes += '\f';
        break;
      case '"':
        bytes += '"';
        break;
      case '\\':
        bytes += '\\';
        break;
      case '/':
        bytes += '/';
        break;
      default:
        ADD_FAILURE() << "escape \\" << kind;
    }
  }
  return bytes;
}

std::string json(std::string_view bytes) {
  std::string out;
  qv::append_json_string(out, bytes);
  return out;
}

// Whether text is valid UTF-8 (the decoder's view, to check that the writer emits nothing else).
bool valid_utf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

TEST(JsonString, AwkwardBytesComeBackExactly) {
  const struct {
    std::string bytes;
    const char* literal;
  } cases[] = {
      {"plain.exe", R"("plain.exe")"},
      {"q\"uote\\back", R"("q\"uote\\back")"},
      {"odd\x1b[2J\nname", R"("odd\u001b[2J\nname")"},
      {"del\x7f", R"("del\u007f")"},
      {std::string("nul\0", 4), R"("nul\u0000")"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
       "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
      {"\xff\xfe", R"("\udcff\udcfe")"},                      // never UTF-8
      {"\xc0\xaf", R"("\udcc0\udcaf")"},                      // overlong '/'
      {"\xe0\x80\xaf", R"("\udce0\udc80\udcaf")"},            // overlong, three bytes
      {"\xed\xa0\x80", R"("\udced\udca0\udc80")"},            // a surrogate encoded in UTF-8
      {"\xf4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")"},  // beyond U+10FFFF
      {"ab\xe2\x82", R"("ab\udce2\udc82")"},                  // cut short at the end
      {"\xe2\x82z", R"("\udce2\udc82z")"},                    // cut short before ASCII
      {"\x80", R"("\udc80")"},                                // a lone continuation byte
      {"\xc2\x9b[2J", R"("\u009b[2J")"},                      // C1 control, CSI
  };
  for (const auto& c : cases) {
    const std::string literal = json(c.bytes);
    EXPECT_EQ(literal, c.literal);
    EXPECT_EQ(decode_json_string(literal), c.bytes) << literal;
  }
}

TEST(JsonString, AnyBytesRoundTripAsValidUtf8) {
  std::mt19937 random(8259);
  for (int i = 0; i < 5000; ++i) {
    std::string bytes(random() % 24, '\0');
    for (char& b : bytes) {
      // Mostly bytes that begin or continue sequences, so that near-valid ones are common.
      const unsigned pick = random() % 4;
      b = static_cast<char>(pick == 0 ? random() % 0x80 : 0x80 + random() % 0x80);
    }
    const std::string literal = json(bytes);
    ASSERT_TRUE(valid_utf8(literal)) << literal;
    ASSERT_EQ(decode_json_string(literal), bytes);
  }
}

TEST(CsvField, QuotedOnlyWhenItMustBe) {
  const struct {
    const char* text;
    const char* field;
  } cases[] = {
      {"plain", "plain"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {R"(say "hi")", R"("say ""hi""")"},
      {"two\nlines", "\"two\nlines\""},
      {"cr\r", "\"cr\r\""},
      {"::ffff:1.2.3.4", "::ffff:1.2.3.4"},
  };
  for (const auto& c : cases) {
    std::string out = "x,";
    qv::append_csv_field(out, c.text);
    EXPECT_EQ(out, std::string("x,") + c.field);
  }
}

}  // namespace
