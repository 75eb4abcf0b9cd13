// Formatting of the two text channels, and their order on one destination.
#include "platform/text_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

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

TEST(WideFormat, PercentSTakesAWideStringAndWritesUtf8) {
    EXPECT_EQ(Wide(L"  built %s %s\r\n", L"Jul  8 2008", L"09:03:52"), "  built Jul  8 2008 09:03:52\r\n");
    EXPECT_EQ(Wide(L"%s|%ls|%hs|%S", L"Gr\u00fc\u00dfe", L"\u20ac", "narrow", "also"),
              "Gr\xC3\xBC\xC3\x9F"
              "e|\xE2\x82\xAC|narrow|also");
    EXPECT_EQ(Wide(L"\u00b5s \U0001F600"), "\xC2\xB5s \xF0\x9F\x98\x80");
    EXPECT_EQ(Wide(L"%s", static_cast<const wchar_t*>(nullptr)), "(null)");
}

TEST(WideFormat, WidthAndPrecisionCountCharactersNotBytes) {
    EXPECT_EQ(Wide(L"[%6s][%-6s][%.2s]", L"\u00e9t\u00e9", L"ab", L"\u00e9t\u00e9"),
              "[   \xC3\xA9t\xC3\xA9][ab    ][\xC3\xA9t]");
    EXPECT_EQ(Wide(L"[%*s]", -4, L"x"), "[x   ]");
    EXPECT_EQ(Wide(L"%c%hc%C", L'\u00e9', 'a', 'b'),
              "\xC3\xA9"
              "ab");
}

TEST(WideFormat, NumbersFollowPrintf) {
    EXPECT_EQ(Wide(L"%d %u %x %X %02X %08lx %lld %I64u %zu %5.1f %%", -3, 7u, 255u, 255u, 0xAu, 0xBEEFul,
                   -1234567890123ll, 42ull, static_cast<std::size_t>(9), 2.25),
              "-3 7 ff FF 0A 0000beef -1234567890123 42 9   2.2 %");
}

TEST(WideFormat, RefusesToWriteThroughNAndShowsUnknownConversions) {
    int target = 99;
    EXPECT_EQ(Wide(L"a%nb %y", &target), "ab %y");
    EXPECT_EQ(target, 99);
    EXPECT_EQ(Wide(L"trailing %"), "trailing %");
}

TEST(NarrowFormat, PercentSTakesANarrowString) {
    EXPECT_EQ(Narrow("%s %ls %d\n", "Sending", L"\u00e9", 5), "Sending \xC3\xA9 5\n");
}

TEST(Channels, KeepTheProgramsOrderOnOneFile) {
    char path[] = "/tmp/varkel-channels-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    platform::ResetChannels();
    platform::SetChannelFd(platform::Channel::Debug, fd);
    platform::SetChannelFd(platform::Channel::Console, fd);
    for (int i = 0; i < 3; ++i) {
        platform::WriteChannel(platform::Channel::Console, "console\n");
        platform::WriteChannel(platform::Channel::Debug, "debug\r\n");
    }
    platform::FlushChannels();
    platform::ResetChannels();

    std::string text(256, '\0');
    const ssize_t n = pread(fd, text.data(), text.size(), 0);
    close(fd);
    unlink(path);
    ASSERT_GT(n, 0);
    text.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(text, "console\ndebug\r\nconsole\ndebug\r\nconsole\ndebug\r\n");
}

}  // namespace
