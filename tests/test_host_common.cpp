// Text, number and path helpers of the host.
#include <cstdlib>
#include <limits>
#include <vector>

#include "support/test_support.h"

namespace {

struct NUMBER_CASE {
    const char* text;
    bool strict;
    bool allow_sign;
    bool ok;
    uint64_t value;
};

TEST(HostCommon, QwordConversionFollowsTheDataListRules) {
    const NUMBER_CASE cases[] = {
        {"0", true, false, true, 0},
        {"255", true, false, true, 255},
        {"0x", true, false, true, 0},  // a bare prefix converts to 0
        {"0xff", true, false, true, 255},
        {"0xFF", true, false, true, 255},  // upper-case digits are fine, only the X is not
        {"0X10", true, false, false, 0},   // upper-case X is no hex prefix
        {"0X10", false, false, true, 0},   // ... so only the leading "0" is a number
        {" 5", true, false, false, 0},     // no leading blanks
        {" 5", false, false, false, 0},
        {"5 ", true, false, false, 0},
        {"12ab", true, false, false, 0},
        {"12ab", false, false, true, 12},
        {"0xg", false, false, true, 0},
        {"0xg", true, false, false, 0},
        {"", true, false, false, 0},
        {"", false, false, false, 0},
        {"+5", true, false, false, 0},
        {"+5", true, true, true, 5},
        {"+0x10", true, true, true, 16},
        {"+", true, true, false, 0},
        {"-1", false, true, false, 0},
        {"18446744073709551615", true, false, true, std::numeric_limits<uint64_t>::max()},
        {"18446744073709551616", true, false, false, 0},  // overflow
        {"18446744073709551616", false, false, false, 0},
        {"0xffffffffffffffff", true, false, true, std::numeric_limits<uint64_t>::max()},
        {"0x10000000000000000", true, false, false, 0},
    };
    for (const NUMBER_CASE& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "' strict=" + std::to_string(c.strict));
        bool ok = !c.ok;
        EXPECT_EQ(PGM_COMMON::convert_string_to_qword(c.text, c.strict, &ok, nullptr, c.allow_sign),
                  c.value);
        EXPECT_EQ(ok, c.ok);
    }
}

TEST(HostCommon, LimitsBoundTheValue) {
    const uint64_t limit = 255;
    bool ok = false;
    EXPECT_EQ(PGM_COMMON::convert_string_to_qword("255", true, &ok, &limit), 255u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(PGM_COMMON::convert_string_to_qword("0x100", true, &ok, &limit), 0u);
    EXPECT_FALSE(ok);

    const uint32_t small = 10;
    EXPECT_EQ(PGM_COMMON::convert_string_to_dword("11", true, &ok, &small), 0u);
    EXPECT_FALSE(ok);
}

TEST(HostCommon, DwordConversionStopsAt32Bits) {
    const NUMBER_CASE cases[] = {
        {"4294967295", true, false, true, 4294967295u},
        {"4294967296", true, false, false, 0},
        {"0xffffffff", true, false, true, 4294967295u},
        {"0x100000000", true, false, false, 0},
        {"0x", true, false, true, 0},
        {"7 bytes", false, false, true, 7},
    };
    for (const NUMBER_CASE& c : cases) {
        SCOPED_TRACE(c.text);
        bool ok = !c.ok;
        EXPECT_EQ(PGM_COMMON::convert_string_to_dword(c.text, c.strict, &ok), c.value);
        EXPECT_EQ(ok, c.ok);
    }
}

TEST(HostCommon, HexStringsBecomeByteArrays) {
    struct CASE {
        const char* hex;
        int count;
        bool msb_first;
        std::vector<unsigned char> bytes;  // empty: refused
    };
    const CASE cases[] = {
        {"9F", -1, true, {0x9F}},
        {"F", -1, true, {0x0F}},  // an odd count gets a leading 0
        {"1234", -1, true, {0x12, 0x34}},
        {"1234", -1, false, {0x34, 0x12}},
        {"123", -1, true, {0x01, 0x23}},
        {"abcdef", 4, true, {0xAB, 0xCD}},
        {"", -1, true, {}},
        {"0x12", -1, true, {}},  // no prefix
        {"GG", -1, true, {}},
        {"12 34", -1, true, {}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.hex);
        bool ok = c.bytes.empty();
        uint32_t size = 99;
        unsigned char* bytes =
            PGM_COMMON::convert_hex_string_to_byte_array(c.hex, c.count, &size, c.msb_first, &ok);
        EXPECT_EQ(ok, !c.bytes.empty());
        EXPECT_EQ(size, c.bytes.size());
        EXPECT_EQ(bytes == nullptr, c.bytes.empty());
        if (bytes) {
            EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + size), c.bytes);
        }
        delete[] bytes;
    }
}

TEST(HostCommon, FolderSlashesAreForwardAndSingle) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\db\\\\custom\\", "C:/db/custom/"},
        {"/a//b///c.xml", "/a/b/c.xml"},
        {"a\\/b", "a/b"},
        {"//server/share", "/server/share"},
        {"plain", "plain"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PGM_COMMON::change_folder_slash(c.first), c.second) << c.first;
}

TEST(HostCommon, ComparesBytewiseOrIgnoringAsciiCase) {
    EXPECT_TRUE(PGM_COMMON::compare_string("SQD128", "SQD128", false));
    EXPECT_FALSE(PGM_COMMON::compare_string("SQD128", "sqd128", false));
    EXPECT_TRUE(PGM_COMMON::compare_string("SQD128", "sqd128", true));
    EXPECT_FALSE(PGM_COMMON::compare_string("SQD128", "SQD1280", true));
    EXPECT_FALSE(PGM_COMMON::compare_string("\xc3\x84", "\xc3\xa4", true));  // ASCII only
}

// Strict UTF-8 of XML 1.0 characters, at the edges of each range and sequence length.
TEST(HostCommon, StorableTextIsStrictUtf8OfXmlCharacters) {
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"\t\n\r \x7f~", true},
        {"\x1f", false},
        {std::string(1, '\0'), false},
        {"caf\xc3\xa9 \xdf\xbf \xe0\xa0\x80", true},       // shortest two- and three-byte forms
        {"\xed\x9f\xbf \xee\x80\x80 \xef\xbf\xbd", true},  // around the surrogates
        {"\xed\xa0\x80", false},                           // a surrogate
        {"\xef\xbf\xbe", false},                           // U+FFFE
        {"\xf0\x90\x80\x80 \xf4\x8f\xbf\xbf", true},       // the four-byte range
        {"\xf4\x90\x80\x80", false},                       // past U+10FFFF
        {"\xc1\xbf", false},                               // overlong
        {"\xe0\x9f\xbf", false},
        {"\xf0\x8f\xbf\xbf", false},
        {"\xc3", false},  // cut short
        {"\xc3(", false},
        {"\x80", false},
        {"\xf8\x88\x80\x80\x80", false},
    };
    for (const auto& [text, storable] : cases)
        EXPECT_EQ(PGM_COMMON_XML::is_storable_text(text), storable) << testing::PrintToString(text);
}

TEST(HostCommon, CommonProgrammerDirectoryPrecedence) {
    PGM_COMMON::set_common_programmer("");
    unsetenv("GFPDB_HOST_DIR");
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), gfpdb_test::bundled_data_dir());
    setenv("GFPDB_HOST_DIR", "/from/env", 1);
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/from/env/");
    PGM_COMMON::set_common_programmer("/chosen");
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/chosen/");
    PGM_COMMON::set_common_programmer("/chosen/");
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), "/chosen/");
    unsetenv("GFPDB_HOST_DIR");
    PGM_COMMON::set_common_programmer("");
    EXPECT_EQ(PGM_COMMON::pgm_get_common_programmer(), gfpdb_test::bundled_data_dir());
}

}  // namespace
