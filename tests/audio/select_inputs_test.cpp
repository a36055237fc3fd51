// Which sources are listed as microphones, and how the list is written.
#include <gtest/gtest.h>

#include "platform/audio/valid_text.h"
#include "probe/audio/select_inputs.h"
#include "probe/front/encode.h"

using kestrel::AudioInput;
using kestrel::encode;
using kestrel::selectInputs;
using kestrel::audio::Source;
using kestrel::audio::SourceList;
using kestrel::audio::validText;

namespace {

Source mic(std::string id, std::string name, uint32_t channels = 1) {
  return {std::move(id), std::move(name), channels, false};
}

std::vector<std::string> ids(const std::vector<AudioInput>& inputs) {
  std::vector<std::string> v;
  for (const auto& i : inputs) v.push_back(i.id);
  return v;
}

}  // namespace

TEST(SelectInputs, LeavesOutWhatCannotRecordAndKeepsOrder) {
  SourceList list;
  list.sources = {mic("z.mic", "Zed"),
                  {"out.monitor", "Monitor of Out", 2, true},
                  mic("silent", "No channels", 0),
                  {"nameless", std::nullopt, 2, false},
                  mic("a.mic", "Ay", 4),
                  mic("", "Empty id")};
  auto inputs = selectInputs(list);
  EXPECT_EQ(ids(inputs), (std::vector<std::string>{"z.mic", "a.mic", ""}));
  EXPECT_EQ(inputs[1].name, "Ay");
}

TEST(SelectInputs, MarksOnlyTheDefault) {
  SourceList list;
  list.sources = {mic("a", "A"), mic("b", "B"), mic("c", "C")};
  list.defaultId = "b";
  auto inputs = selectInputs(list);
  ASSERT_EQ(inputs.size(), 3u);
  EXPECT_FALSE(inputs[0].isDefault);
  EXPECT_TRUE(inputs[1].isDefault);
  EXPECT_FALSE(inputs[2].isDefault);

  // A default that is a monitor, or no default at all, marks nothing.
  list.sources.push_back({"m.monitor", "M", 2, true});
  list.defaultId = "m.monitor";
  for (const auto& i : selectInputs(list)) EXPECT_FALSE(i.isDefault) << i.id;
  list.defaultId.reset();
  for (const auto& i : selectInputs(list)) EXPECT_FALSE(i.isDefault) << i.id;
}

TEST(ValidText, BadSequencesAreReplacedSoTheLineIsKept) {
  EXPECT_EQ(validText("Built-in Microphone"), "Built-in Microphone");
  EXPECT_EQ(validText("Mikrofon \xc3\xa4 \xe2\x82\xac"), "Mikrofon \xc3\xa4 \xe2\x82\xac");
  EXPECT_EQ(validText(nullptr), "");
  // A stray continuation byte, a cut sequence, an overlong form, a surrogate.
  for (const char* bad : {"Mic \x80 1", "Mic \xe2\x82", "Mic \xc0\xaf", "Mic \xed\xa0\x80"}) {
    std::string text = validText(bad);
    EXPECT_NE(text, bad);
    EXPECT_EQ(text.rfind("Mic ", 0), 0u) << text;
    SourceList list;
    list.sources = {mic("m", text)};
    auto line = encode(selectInputs(list));
    ASSERT_TRUE(line.has_value()) << "the listing line was dropped for " << text;
    EXPECT_NE(line->find("\"id\":\"m\""), std::string::npos);
  }
}
