// The CLI's own pieces in process: options, the terminal sink, the text codec.

#include "cliargs.h"
#include "clisession.h"
#include "resultlog.h"
#include "terminalsink.h"
#include "textcodec.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tamrisk {
namespace {

TEST(CliArgs, OptionsValuesFlagsAndTheEndOfOptions) {
    const ParsedArgs a = ParseArgs({"--port", "SIM0", "--speed=9600", "--write-back", "48", "--", "-x", "--port"},
                                   {"port", "speed"}, {"write-back"});
    EXPECT_TRUE(a.error.empty());
    EXPECT_EQ(a.value("port"), "SIM0");
    EXPECT_EQ(a.value("speed"), "9600");
    EXPECT_TRUE(a.flag("write-back"));
    EXPECT_EQ(a.positional, (std::vector<std::string>{"48", "-x", "--port"}));

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--port"}, {"-p", "x"}, {"--nope"}, {"--write-back=1"}}) {
        EXPECT_FALSE(ParseArgs(bad, {"port"}, {"write-back"}).error.empty()) << bad[0];
    }
}

TEST(CliArgs, WholeNumbersWithinBounds) {
    EXPECT_EQ(ParseWholeNumber("32", 32, 255), 32);
    EXPECT_EQ(ParseWholeNumber("255", 32, 255), 255);
    for (const char* bad : {"31", "256", "", "4x", " 40", "+40", "1e2"})
        EXPECT_FALSE(ParseWholeNumber(bad, 32, 255)) << bad;
}

TEST(TerminalSink, LinesWithAndWithoutColours) {
    struct Case {
        bool colours;
        std::string text;
        ResultColour colour;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {false, "-> 48,\"\"", ResultColour::Blue, "-> 48,\"\"\n"},
        {true, "-> 48,\"\"", ResultColour::Blue, "\x1b[34m-> 48,\"\"\x1b[0m\n"},
        {true, "ok", ResultColour::Green, "\x1b[32mok\x1b[0m\n"},
        {true, "bad", ResultColour::Red, "\x1b[31mbad\x1b[0m\n"},
        {true, "help", ResultColour::Gray, "\x1b[90mhelp\x1b[0m\n"},
        {true, "example", ResultColour::Purple, "\x1b[35mexample\x1b[0m\n"},
        {true, "plain", ResultColour::Black, "plain\n"},
        // A duration carries its own line end: an empty line follows it.
        {false, "Took 5.00 seconds\r\n", ResultColour::Black, "Took 5.00 seconds\n\n"},
        {true, "a\r\nb", ResultColour::Red, "\x1b[31ma\x1b[0m\n\x1b[31mb\x1b[0m\n"},
        {false, "\xD2\xE5\xF1\xF2", ResultColour::Black, "Тест\n"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        TerminalSink sink(out, c.colours);
        EXPECT_EQ(out.str(), "");
        sink.AppendResultLine(c.text, c.colour);
        EXPECT_EQ(out.str(), c.expected) << c.text;
        EXPECT_EQ(sink.SawRed(), c.colour == ResultColour::Red);
    }
}

// On a terminal an answer cannot drive the screen: its control characters
// are shown, while a duration's own line end stays a line end.
TEST(TerminalSink, ControlCharactersAreEscapedOnATerminal) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"<- [00,00,00,00,00,00](0,0),\"\x1B[2J\"", "<- [00,00,00,00,00,00](0,0),\"\\x1B[2J\"\n"},
        {"a\tb\x7F\x01", "a\\x09b\\x7F\\x01\n"},
        {"\xD2\x07", "Т\\x07\n"},
        {"mid\r\nline", "mid\\x0D\\x0Aline\n"},
        {"Took 5.00 seconds\r\n", "Took 5.00 seconds\n\n"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        TerminalSink sink(out, false, true);
        sink.AppendResultLine(c.text, ResultColour::Green);
        EXPECT_EQ(out.str(), c.expected) << c.text;
    }
}

// Text of the system's (a file name, an argument) may hold any bytes: what is
// not plain UTF-8 text is shown as its bytes, line feeds only where asked for.
TEST(EscapeControls, ControlsC1AndBytesOutsideUtf8AreShown) {
    struct Case {
        std::string text;
        bool keepLineFeeds;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"Тест №1 \u20AC \U0001F600", false, "Тест №1 \u20AC \U0001F600"},
        {"a\nb\x1B", false, "a\\x0Ab\\x1B"},
        {"a\nb\x1B", true, "a\nb\\x1B"},
        {"\xC2\x9B" "2J", false, "\\xC2\\x9B2J"},             // CSI as a C1 control
        {"\x9B" "2J \xFF", false, "\\x9B2J \\xFF"},            // bytes outside UTF-8
        {"\xC0\xAF \xED\xA0\x80 \xE2\x82", false, "\\xC0\\xAF \\xED\\xA0\\x80 \\xE2\\x82"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EscapeControls(c.text, c.keepLineFeeds), c.expected) << c.text;
    // Every byte of Windows-1251 text reaches a terminal as printable text or as an escape.
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const std::string shown = TerminalText(std::string(1, static_cast<char>(byte)));
        EXPECT_EQ(shown, EscapeControls(shown)) << byte;
    }
}

TEST(TextCodec, RoundTripsCyrillicAndRefusesWhatItCannotCarry) {
    qsizetype bad = -1;
    EXPECT_FALSE(EncodeCp1251(u"ab\u4e2dc", &bad));
    EXPECT_EQ(bad, 2);
    EXPECT_FALSE(EncodeCp1251(u"Тест \U0001F600", &bad));
    EXPECT_EQ(bad, 5);
    EXPECT_EQ(EncodeCp1251(u"№ Тест"), std::string("\xB9 \xD2\xE5\xF1\xF2"));
    EXPECT_EQ(DecodeCp1251("\xB9"), QStringLiteral("№"));
    EXPECT_EQ(Utf8ToCp1251("Тест"), std::string("\xD2\xE5\xF1\xF2"));
    EXPECT_EQ(Cp1251ToUtf8("\xD2\xE5\xF1\xF2"), "Тест");
    EXPECT_EQ(Utf8ToCp1251("abc"), std::string("abc"));
    EXPECT_FALSE(Utf8ToCp1251("\u4e2d"));
}

// A reason with advice after it (a port refused for lack of permission) keeps
// its lines on stderr, each still escaped.
TEST(CliMessages, ADetailKeepsItsLinesAfterTheReason) {
    std::ostringstream out, err;
    CliSession session(out, err);
    session.host.showMessageDetail("Can't open serial port", "Error",
                                   "Permission denied\n/dev/ttyUSB0 belongs to the group dialout.\x1b[2J");
    EXPECT_EQ(err.str(), "Error: Can't open serial port: Permission denied\n"
                         "/dev/ttyUSB0 belongs to the group dialout.\\x1B[2J\n");
    EXPECT_EQ(session.lastMessage.rfind("Can't open serial port: Permission denied\n/dev/ttyUSB0", 0), 0u);
}

}  // namespace
}  // namespace tamrisk
