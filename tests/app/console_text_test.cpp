#include <gtest/gtest.h>

#include "console_text.h"

TEST(ConsoleText, WindowShowsOtherBytesAsWindows1252) {
    const struct {
        std::string Bytes, Shown;
    } Rows[] = {
        {"plain", "plain"},
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"}, // valid UTF-8 stays
        {"caf\xE9", "caf\xC3\xA9"},                               // Latin-1 e acute
        {"\x80 \x93quoted\x94", "\xE2\x82\xAC \xE2\x80\x9Cquoted\xE2\x80\x9D"},
        {"\x81\x8D", "\xC2\x81\xC2\x8D"},                 // unassigned: their C1 values
        {"\xC3", "\xC3\x83"},                             // a cut-off sequence
        {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                 // an overlong "/" is two bytes
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"}, // a surrogate is three
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},         // beyond the BMP stays
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& R : Rows)
        EXPECT_EQ(ConsoleUtf8(R.Bytes), R.Shown) << R.Bytes;
}

TEST(ConsoleText, TerminalMasksC0AndC1Controls) {
    const struct {
        std::string Bytes, Shown;
    } Rows[] = {
        {"a\tb", "a\tb"},
        {"\x1B]0;title\x07", "?]0;title?"},
        {"\x7F", "?"},
        {"\x9B"
         "31m",
         "?31m"},             // raw CSI of 8-bit terminals
        {"\x90q\x9C", "?q?"}, // raw DCS, ST
        {"\xC2\x9B"
         "2J",
         "?2J"},                                  // U+009B
        {"\xC2\x85", "?"},                        // U+0085 next line
        {"\xC2\xA0\xC3\xA9", "\xC2\xA0\xC3\xA9"}, // U+00A0 and e acute are text
        {"\xC4\x80", "\xC4\x80"},                 // a continuation byte 0x80 inside a character
        {"\xE9t\xE9", "\xE9t\xE9"},               // Latin-1 letters pass
        {"\xE2\x80\xA8", "\xE2\x80\xA8"},         // U+2028 is not a C1 control
    };
    for (const auto& R : Rows)
        EXPECT_EQ(TerminalSafe(R.Bytes), R.Shown) << R.Bytes;
}
