#include "platform/photo/icc_description.h"

#include <lcms2.h>

#include <memory>
#include <vector>

namespace kestrel::photo {
namespace {

struct ProfileCloser {
  void operator()(void* p) const { cmsCloseProfile(p); }
};

void appendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string utf8FromWide(const std::wstring& text) {
  static_assert(sizeof(wchar_t) == 4, "wide characters are UTF-32 here");
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) appendUtf8(out, static_cast<char32_t>(c));
  return out;
}

std::string profileDescription(const void* data, size_t size) {
  if (!data || size == 0 || size > UINT32_MAX) return {};
  std::unique_ptr<void, ProfileCloser> profile(
      cmsOpenProfileFromMem(data, static_cast<cmsUInt32Number>(size)));
  if (!profile) return {};
  const cmsUInt32Number bytes = cmsGetProfileInfo(profile.get(), cmsInfoDescription,
                                                  cmsNoLanguage, cmsNoCountry, nullptr, 0);
  if (bytes < sizeof(wchar_t)) return {};
  std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
  cmsGetProfileInfo(profile.get(), cmsInfoDescription, cmsNoLanguage, cmsNoCountry,
                    text.data(), bytes);
  return utf8FromWide(std::wstring(text.data()));  // up to the terminating zero
}

}  // namespace kestrel::photo
