// The plain texts the conversion shows.
#pragma once

namespace velorna::conversion_msg {

inline constexpr char kFinished[] = "変換が終了しました。";
inline constexpr char kCannotOpen[] = "ファイルが開けませんでした。";
inline constexpr char kAdaptiveNeedsTwelveTones[] =
    "適応純正律は、1 オクターブが 12 音の音律にだけ使えます。";
// A copy's rendering kept no End of Track.
inline constexpr char kNoEndOfTrack[] = "err3";

}  // namespace velorna::conversion_msg
