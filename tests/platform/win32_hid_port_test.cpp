#include <gtest/gtest.h>

#include <string>

#include "platform/hid_port.h"
#include "platform/native_string.h"

namespace velkora::platform {
namespace {

// USB strings and device paths come as UTF-16. A stray surrogate becomes U+FFFD, as the
// system's conversion makes it, instead of emptying the whole text: an emptied serial number
// would let the wait for the management interface take any adapter's.
TEST(ToUtf8, ConvertsUtf16AndReplacesStraySurrogates) {
    const struct {
        std::wstring text;
        std::string utf8;
    } cases[] = {
        {L"", ""},
        {L"Velkora Management Interface", "Velkora Management Interface"},
        {L"Ger\u00E4t \u20AC", "Ger\xC3\xA4t \xE2\x82\xAC"},
        {L"\xD83D\xDD0C", "\xF0\x9F\x94\x8C"},  // a surrogate pair: U+1F50C
        {L"a\xD800", "a\xEF\xBF\xBD"},          // a lone high surrogate becomes U+FFFD
        {L"\xDC00z", "\xEF\xBF\xBDz"},          // so does a lone low surrogate
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toUtf8(c.text), c.utf8);
    }
}

// Wine's SetupAPI lists no HID interface with the adapter's IDs: an empty list, no error.
TEST(WindowsHidPort, EnumerationWithoutAdapterIsEmpty) {
    EXPECT_TRUE(systemHidPort().enumerate().empty());
}

TEST(WindowsHidPort, OpenFailureNamesTheWindowsError) {
    const HidOpenResult opened = systemHidPort().open(
        L"\\\\?\\hid#vid_0483&pid_a5b9#0&0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(opened.connection, nullptr);
    EXPECT_EQ(opened.errorDetail, "Windows error 2");
}

}  // namespace
}  // namespace velkora::platform
