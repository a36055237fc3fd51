#include "tests/photo/display_p3.h"

#include <lcms2.h>

#include <cstdint>
#include <vector>

namespace kestrel::test {
namespace {

cmsHPROFILE makeP3(const std::wstring& description) {
  const cmsCIExyY white = {0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
  const cmsFloat64Number srgbCurve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(curve);
  cmsMLU* text = cmsMLUalloc(nullptr, 1);
  cmsMLUsetWide(text, "en", "US", description.c_str());
  cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
  cmsMLUfree(text);
  return profile;
}

}  // namespace

std::string displayP3Profile(const std::wstring& description) {
  cmsHPROFILE profile = makeP3(description);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::string bytes(size, '\0');
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

std::array<int, 3> p3ToSrgb(const std::array<int, 3>& p3) {
  cmsHPROFILE from = makeP3(L"Display P3");
  cmsHPROFILE to = cmsCreate_sRGBProfile();
  cmsHTRANSFORM t = cmsCreateTransform(from, TYPE_RGB_8, to, TYPE_RGB_8,
                                       INTENT_RELATIVE_COLORIMETRIC, 0);
  const uint8_t in[3] = {uint8_t(p3[0]), uint8_t(p3[1]), uint8_t(p3[2])};
  uint8_t out[3] = {0, 0, 0};
  cmsDoTransform(t, in, out, 1);
  cmsDeleteTransform(t);
  cmsCloseProfile(to);
  cmsCloseProfile(from);
  return {out[0], out[1], out[2]};
}

}  // namespace kestrel::test
