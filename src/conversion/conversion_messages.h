// The plain texts the conversion shows.
#pragma once

namespace velorna::conversion_msg {

inline constexpr char kFinished[] = "変換が終了しました。";
inline constexpr char kCannotOpen[] = "ファイルが開けませんでした。";
// A copy's rendering kept no End of Track.
inline constexpr char kNoEndOfTrack[] = "err3";

}  // namespace velorna::conversion_msg
