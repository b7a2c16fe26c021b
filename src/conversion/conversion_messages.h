// The plain texts the conversion shows.
#pragma once

namespace velorna::conversion_msg {

inline constexpr char kFinished[] = "変換が終了しました。";
// The words of an output's level; the figures and units follow them.
inline constexpr char kPeak[] = "ピーク";
inline constexpr char kLoudness[] = "ラウドネス";
inline constexpr char kLoudnessRange[] = "ラウドネスレンジ";
inline constexpr char kTruePeak[] = "トゥルーピーク";
inline constexpr char kCannotOpen[] = "ファイルが開けませんでした。";
// A copy's rendering kept no End of Track.
inline constexpr char kNoEndOfTrack[] = "err3";

}  // namespace velorna::conversion_msg
