// The plain texts the conversion shows.
#pragma once

#include <string>

namespace velorna::conversion_msg {

inline constexpr char kFinished[] = "変換が終了しました。";
// The words of an output's level; the figures and units follow them.
inline constexpr char kPeak[] = "ピーク";
inline constexpr char kLoudness[] = "ラウドネス";
inline constexpr char kLoudnessRange[] = "ラウドネスレンジ";
inline constexpr char kTruePeak[] = "トゥルーピーク";
inline constexpr char kCannotOpen[] = "ファイルが開けませんでした。";
// The loaded FluidSynth does not sound pitch as the retuning aims it.
inline constexpr char kPlainBends[] =
    "読み込まれた FluidSynth は想定どおりの音高で鳴らないため、ピッチベンドだけで調律します"
    "（1 セントほどずれることがあります）。";
inline constexpr char kAdaptiveNeedsTwelveTones[] =
    "適応純正律は、1 オクターブが 12 音の音律にだけ使えます。";
// --jobs asked for more worker threads than the memory bound of a run allows.
inline std::string WorkersLowered(int asked, int workers) {
  return "メモリの上限に合わせてスレッド数を " + std::to_string(asked) + " から " +
         std::to_string(workers) + " に減らしました。";
}
// A copy's rendering kept no End of Track.
inline constexpr char kNoEndOfTrack[] = "err3";

}  // namespace velorna::conversion_msg
