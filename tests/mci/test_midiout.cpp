#include <gtest/gtest.h>

#include "media/mci/mci.h"
#include "media/mci/midiout.h"
#include "tests/support/fake_device.h"

using namespace plimra::mci;

namespace {

TEST(MidiOut, DevicesFromMinusOneToCountMinusOne) {
  auto catalog = plimra::test::FakeMidiOuts::install({});
  EXPECT_EQ(midiOutGetNumDevs(), 0u);
  MidiOutCaps caps;
  EXPECT_EQ(midiOutGetDevCaps(-1, caps), err::None);
  EXPECT_EQ(caps.name, "MIDI Mapper");
  caps.name = "kept";
  EXPECT_EQ(midiOutGetDevCaps(0, caps), err::InvalidDeviceId);
  EXPECT_EQ(caps.name, "kept");

  // Names longer than the record's field are cut, never inside a character.
  catalog->set({"Synth", "ポート一二三四五六七八九十一二三"});
  EXPECT_EQ(midiOutGetNumDevs(), 2u);
  EXPECT_EQ(midiOutGetDevCaps(0, caps), err::None);
  EXPECT_EQ(caps.name, "Synth");
  EXPECT_EQ(midiOutGetDevCaps(1, caps), err::None);
  EXPECT_EQ(caps.name, "ポート一二三四五六七");  // 30 bytes: a 31st would split a character
  EXPECT_EQ(midiOutGetDevCaps(2, caps), err::InvalidDeviceId);
  EXPECT_EQ(midiOutGetDevCaps(-2, caps), err::InvalidDeviceId);
  setMidiOutCatalog(nullptr);
  EXPECT_EQ(midiOutGetNumDevs(), 0u);
}

}  // namespace
