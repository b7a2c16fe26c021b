#include "midi/event_data.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/library_error.h"

namespace velorna {
namespace {

struct EventDataTest : ::testing::Test {
  RecordingReporter rec;
  MidiContext ctx{rec};
};

TEST_F(EventDataTest, NewEventHasNoChannelAndNothingElse) {
  const MidiEvent e;
  EXPECT_EQ(e.channel, 255);
  EXPECT_EQ(e.status, 0u);
  EXPECT_EQ(e.delta, 0);
  EXPECT_EQ(e.note | e.duration | e.velocity | e.value | e.size, 0);
  EXPECT_EQ(e.kind, 0u);
  EXPECT_TRUE(e.data.empty());
}

TEST_F(EventDataTest, LargeDataWarnsAndIsKeptWhole) {
  std::vector<uint8_t> bytes(300);
  for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<uint8_t>(k + 1);
  MidiEvent e;
  SetEventData(ctx, e, bytes);
  ASSERT_EQ(rec.texts().size(), 1u);
  EXPECT_EQ(
      rec.texts()[0],
      "MUEV06000001 イベントのデータサイズが大きすぎます。MFiの機種依存の音色設定が含まれている"
      "場合は問題ありません。");
  EXPECT_EQ(e.size, 300);
  ASSERT_EQ(e.data.size(), 308u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), e.data.begin()));
  EXPECT_EQ(e.data[307], 0);

  rec.Clear();
  SetEventData(ctx, e, std::vector<uint8_t>(256, 7));  // 256 is still quiet
  EXPECT_TRUE(rec.texts().empty());
  EXPECT_EQ(e.size, 256);
}

TEST_F(EventDataTest, SettingDataFromItsOwnBytesKeepsThem) {
  MidiEvent e;
  SetEventData(ctx, e, std::vector<uint8_t>{1, 2, 3, 4});
  SetEventData(ctx, e, std::span<const uint8_t>(e.data.data() + 1, 2));
  EXPECT_EQ(e.size, 2);
  EXPECT_EQ(e.data, (std::vector<uint8_t>{2, 3, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(EventDataTest, DataByteReadsZerosUpToEightPastTheEnd) {
  MidiEvent e;
  SetEventData(ctx, e, std::vector<uint8_t>{0xF0, 0x05, 0x7E});
  EXPECT_EQ(EventDataByte(ctx, e, 2), 0x7E);
  EXPECT_EQ(EventDataByte(ctx, e, 3 + 7), 0);
  EXPECT_TRUE(rec.texts().empty());
  EXPECT_EQ(EventDataByte(ctx, e, 3 + 8), 0);
  EXPECT_EQ(EventDataByte(ctx, e, -1), 0);
  EXPECT_EQ(EventDataByte(ctx, MidiEvent{}, 0), 0);
  const std::string error = "MUEV06000002 イベントのデータでエラーが発生しました。";
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{error, error, error}));
}

TEST_F(EventDataTest, CopyEventTakesEverythingButTheChannel) {
  MidiEvent from;
  from.status = st::kSysEx;
  from.delta = 12;
  from.kind = 18;
  from.value = 1;
  from.channel = 3;
  SetEventData(ctx, from, std::vector<uint8_t>{0xF0, 0xF7});
  MidiEvent to;
  to.channel = 5;
  CopyEvent(to, from);
  EXPECT_EQ(to.channel, 5);
  EXPECT_EQ(to.delta, 12);
  EXPECT_EQ(to.kind, 18u);
  EXPECT_EQ(to.size, 2);
  from.data[0] = 0;  // the copy's bytes are its own
  EXPECT_EQ(to.data[0], 0xF0);
}

TEST_F(EventDataTest, MasterVolumeEvent) {
  MidiEvent e;
  MakeMasterVolume(e);
  EXPECT_EQ(e.status, 240u);
  EXPECT_EQ(e.kind, 1u);
  EXPECT_EQ(e.value, 127);
  ASSERT_EQ(e.size, 9);
  EXPECT_EQ(e.data, (std::vector<uint8_t>{0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x7F, 0xF7, 0,
                                          0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace velorna
