// The plain texts the audio side shows.
#pragma once

#include <string>

namespace velorna::audio_msg {

inline const std::string kFileNotFound = "ファイルが見つかりませんでした。";
inline const std::string kUnknownTag = "不明なタグが検出されました。処理は継続可能です。";
inline const std::string kAiffError = "Aiff Error";
inline const std::string kCannotOpen = "ファイルが開けませんでした。";
inline const std::string kWrongFormat = "フォーマットが違う音声ファイルを処理しようとしました。";
// A WAV file whose chunks run past its end or that has no sample data.
inline const std::string kBrokenWave = "音声ファイルが壊れています。";
// Sound that would not fit the WAV format's 4 GiB size fields.
inline const std::string kTooLarge = "出力が大きすぎます。";
inline const std::string kOutOfMemory = "メモリが不足しています。";
// A rendering that failed, followed by the file it came from.
inline const std::string kRenderFailed = "エラー発生 ";

// No SoundFont could be loaded for the synthesizer.
inline std::string NoSynthesizer(const std::string& soundFontPath) {
  return "ソフトウェア音源が使用できません。 (" + soundFontPath + ")";
}

}  // namespace velorna::audio_msg
