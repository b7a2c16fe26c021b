#include "base/reporter.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "base/library_error.h"

namespace velorna {
namespace {

TEST(Reporter, LibraryErrorTextArrivesExactly) {
  RecordingReporter rec;
  ShowLibraryError(rec, LibraryModule::GENE, code::kGeneOutOfMemory, msg::kOutOfMemory);
  ASSERT_EQ(rec.reports().size(), 1u);
  const Report r = rec.reports()[0];
  EXPECT_EQ(r.text, "GENE01000002 メモリが不足しています。");
  EXPECT_EQ(r.module, "GENE");
  EXPECT_EQ(r.code, 0x01000002u);
}

TEST(Reporter, LookupsFallBackForUnlistedCodes) {
  RecordingReporter rec;
  ShowM1dtError(rec, 0x0300000D);
  ShowMdtkError(rec, 0x0D000009);
  ShowMdtkError(rec, 0x0D000006);
  ShowLibraryError(rec, LibraryModule::MDEV, 0, msg::kMidiEventError);
  const auto texts = rec.texts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], "M1DT0300000D Midiのフォーマット１のデータでエラーが発生しました。");
  EXPECT_EQ(texts[1], "MDTK0D000009 Midiのトラックデータでエラーが発生しました。");
  EXPECT_EQ(texts[2], "MDTK0D000006 データの量が多すぎます。");
  EXPECT_EQ(texts[3], "MDEV00000000 MidiEventでエラーが発生しました。");
}

TEST(Reporter, TwoThreadsKeepTheirOrder) {
  RecordingReporter rec;
  constexpr int kEach = 2000;
  auto emit = [&rec](char who) {
    for (int i = 0; i < kEach; ++i) rec.ShowText(std::string(1, who) + std::to_string(i));
  };
  std::thread a(emit, 'a');
  std::thread b(emit, 'b');
  a.join();
  b.join();
  const auto texts = rec.texts();
  ASSERT_EQ(texts.size(), 2u * kEach);
  int next_a = 0, next_b = 0;
  for (const auto& t : texts) {
    int& next = t[0] == 'a' ? next_a : next_b;
    EXPECT_EQ(std::stoi(t.substr(1)), next);
    ++next;
  }
  EXPECT_EQ(next_a, kEach);
  EXPECT_EQ(next_b, kEach);
}

TEST(Reporter, OnceReporterPassesEachTextOnce) {
  RecordingReporter rec;
  OnceReporter once(rec);
  once.ShowText("x");
  once.ShowText("y");
  once.ShowText("x");
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{"x", "y"}));
}

}  // namespace
}  // namespace velorna
