// The program's text: its wide printf conventions rendered by the C
// library, formats it must refuse, and the order of the two channels.
#include "platform/text_format.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cwchar>
#include <random>
#include <string>

#include "platform/channels.h"
#include "tests/board_fixture.h"

namespace {

std::string Wide(const wchar_t* format, ...) {
    std::string out;
    va_list args;
    va_start(args, format);
    platform::AppendWideFormat(out, format, args);
    va_end(args);
    return out;
}

std::string Narrow(const char* format, ...) {
    std::string out;
    va_list args;
    va_start(args, format);
    platform::AppendNarrowFormat(out, format, args);
    va_end(args);
    return out;
}

TEST(TextFormat, WideFormatsTakeWideStringsAndWriteUtf8) {
    EXPECT_EQ(Wide(L"  431806-52774 built %s %s\r\n", L"Jul  8 2008", L"09:03:52"),
              "  431806-52774 built Jul  8 2008 09:03:52\r\n");
    EXPECT_EQ(Wide(L"%s|%hs|%c%hc|\u00b5s \U0001F600", L"Gr\u00fc\u00dfe", "\xE2\x82\xAC", L'\u00e9', 'a'),
              "Gr\xC3\xBC\xC3\x9F"
              "e|\xE2\x82\xAC|\xC3\xA9"
              "a|\xC2\xB5s \xF0\x9F\x98\x80");
    // Widths and precisions count characters, narrow UTF-8 ones too.
    EXPECT_EQ(Wide(L"[%6s][%-4s][%.2hs]", L"\u00e9t\u00e9", L"ab", "\xC3\xA9t\xC3\xA9"),
              "[   \xC3\xA9t\xC3\xA9][ab  ][\xC3\xA9t]");
    EXPECT_EQ(Narrow("%s %d %ls\n", "Sending", 5, L"\u00e9"), "Sending 5 \xC3\xA9\n");
}

TEST(TextFormat, FormatsTheProgramNeverUsesAreWrittenAsTheyStand) {
    int target = 99;
    EXPECT_EQ(Wide(L"a%nb", &target), "a%nb");
    EXPECT_EQ(target, 99);
    EXPECT_EQ(Wide(L"[%*s]", INT_MIN, L"x"), "[%*s]");
    EXPECT_EQ(Wide(L"[%.*s]", INT_MAX, L"x"), "[%.*s]");
    EXPECT_EQ(Wide(L"%99999s", L"x"), "%99999s");
    EXPECT_EQ(Wide(L"%y %\u00e9 trailing %"), "%y %\xC3\xA9 trailing %");
    EXPECT_EQ(Wide(L"%lls %qd"), "%lls %qd");
    EXPECT_EQ(Narrow("%n%hs"), "%n%hs");
    // Too long for one call's text: the format, not a cut rendering.
    EXPECT_EQ(Wide(L"%9999s%9999s%9999s%9999s%9999s%9999s%9999s", L"", L"", L"", L"", L"", L"", L""),
              "%9999s%9999s%9999s%9999s%9999s%9999s%9999s");
}

// The conversions the program's formats can hold, compared with the C
// library's own rendering of the same text.
TEST(TextFormat, RandomFormatsAgreeWithTheCLibrary) {
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    ASSERT_NE(utf8, nullptr);
    const locale_t previous = uselocale(utf8);
    std::mt19937 random(20261208);
    const std::wstring alphabet = L"ab %-.0123456789\r\n\t\u00e9\u20ac\U0001F600";
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    auto text = [&](std::size_t length) {
        std::wstring s;
        while (s.size() < length) {
            const wchar_t c = alphabet[pick(alphabet.size())];
            s += c == L'%' ? std::wstring(L"%%") : std::wstring(1, c);
        }
        return s;
    };
    for (int round = 0; round < 2000; ++round) {
        std::wstring spec = L"%";
        spec += pick(2) == 0 ? L"-" : L"";
        spec += pick(2) == 0 ? std::to_wstring(pick(12)) : L"";
        spec += pick(2) == 0 ? L"." + std::to_wstring(pick(6)) : L"";
        const std::wstring prefix = text(pick(6));
        const std::wstring suffix = text(pick(6));
        std::wstring argument = text(pick(8));
        std::erase(argument, L'%');
        const std::wstring ours = prefix + spec + L"s" + suffix;
        const std::wstring theirs = prefix + spec + L"ls" + suffix;
        wchar_t expected[256];
        ASSERT_GE(std::swprintf(expected, 256, theirs.c_str(), argument.c_str()), 0);
        char utf8Expected[1024];
        ASSERT_NE(std::wcstombs(utf8Expected, expected, sizeof utf8Expected), static_cast<std::size_t>(-1));
        EXPECT_EQ(Wide(ours.c_str(), argument.c_str()), utf8Expected) << round;
    }
    uselocale(previous);
    freelocale(utf8);
}

TEST(Channels, KeepTheProgramsOrderOnOneFileAndReportWriteErrors) {
    TempDir dir;
    const int fd = ::open((dir / "both.txt").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    platform::ResetChannels();
    platform::SetChannelFd(platform::Channel::Debug, fd);
    platform::SetChannelFd(platform::Channel::Console, fd);
    for (int i = 0; i < 3; ++i) {
        platform::WriteChannel(platform::Channel::Console, "console\n");
        platform::WriteChannel(platform::Channel::Debug, "debug\r\n");
    }
    platform::FlushChannels();
    EXPECT_EQ(ReadFile(dir / "both.txt"), "console\ndebug\r\nconsole\ndebug\r\nconsole\ndebug\r\n");
    EXPECT_EQ(platform::ChannelError(platform::Channel::Debug), 0);

    const int readOnly = ::open((dir / "both.txt").c_str(), O_RDONLY);
    platform::SetChannelFd(platform::Channel::Debug, readOnly);
    platform::WriteChannel(platform::Channel::Debug, "lost\r\n");
    platform::FlushChannels();
    EXPECT_EQ(platform::ChannelError(platform::Channel::Debug), EBADF);
    EXPECT_EQ(platform::ChannelError(platform::Channel::Console), 0);
    platform::ResetChannels();
    ::close(fd);
    ::close(readOnly);
}

}  // namespace
