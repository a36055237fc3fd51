// Colour profile descriptions as the photo line reports them.
#include <gtest/gtest.h>

#include "platform/photo/icc_description.h"
#include "tests/photo/display_p3.h"

using namespace kestrel::photo;

TEST(ProfileDescription, ReadsTheDescriptionTag) {
  const std::string p3 = kestrel::test::displayP3Profile();
  EXPECT_EQ(profileDescription(p3.data(), p3.size()), "Display P3");
}

TEST(ProfileDescription, NonAsciiTextComesOutAsUtf8) {
  const std::string p = kestrel::test::displayP3Profile(L"Caf\u00e9 \u00d7");
  EXPECT_EQ(profileDescription(p.data(), p.size()), "Caf\xC3\xA9 \xC3\x97");
}

TEST(ProfileDescription, BytesThatAreNoProfileGiveEmptyText) {
  const std::string junk(200, 'x');
  EXPECT_EQ(profileDescription(junk.data(), junk.size()), "");
  EXPECT_EQ(profileDescription(nullptr, 0), "");
  const std::string p3 = kestrel::test::displayP3Profile();
  EXPECT_EQ(profileDescription(p3.data(), 60), "");  // cut short
}

TEST(Utf8FromWide, ReplacesValuesThatAreNotCharacters) {
  EXPECT_EQ(utf8FromWide(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8FromWide(std::wstring(1, wchar_t(0x110000))), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8FromWide(L"\u07FF\u0800"), "\xDF\xBF\xE0\xA0\x80");
}
