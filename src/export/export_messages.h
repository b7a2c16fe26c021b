// What an export says about what it could not carry exactly.
#pragma once

#include <cstdint>
#include <string>

namespace velorna {

namespace code {
inline constexpr uint32_t kExptCrowded = 0x0E000001;
inline constexpr uint32_t kExptBendClipped = 0x0E000002;
inline constexpr uint32_t kExptSharedKey = 0x0E000003;
inline constexpr uint32_t kExptWritten = 0x0E000004;
inline constexpr uint32_t kExptUnreadable = 0x0E000005;
}  // namespace code

namespace export_msg {

// More notes sounded at once than the channels hold; the compromise is in the README.
inline std::string Crowded(int notes, const std::string& firstSeconds, const std::string& cents) {
  return std::to_string(notes) +
         " 個の音は同時に鳴る音が多すぎて自分のチャンネルを得られませんでした（最初は " +
         firstSeconds +
         " 秒）。余韻だけが残るチャンネルか、同じパートで最も近いベンドのチャンネルで鳴らします（最"
         "大 " +
         cents + " セントのずれ）。";
}
inline std::string BendClipped(int bends, int range) {
  return std::to_string(bends) + " 個のピッチベンドがベンド幅 " + std::to_string(range) +
         " 半音に収まらず、端で止めました（--bend-range で広げられます）。";
}
inline std::string SharedKey(int notes) {
  return std::to_string(notes) +
         " 個の音は、同じ鍵盤が別の音高で鳴っている間に始まりました。鳴っている音も新しい音高に合わ"
         "せます。";
}

// An export Velorna itself could not read back whole: written all the same, for the other
// programs it is meant for; the output's path goes before.
inline std::string LargerThanRead(int64_t bytes, int64_t most) {
  return "書き出したファイルは " + std::to_string(bytes) + " バイトで、Velorna が読み込める " +
         std::to_string(most) +
         " バイトを超えます。ほかのシンセサイザーや DAW では開けますが、Velorna "
         "では開けません（--as "
         "bends や mts ならより小さくなります）。";
}
inline std::string NotesLostOnRead(int kept, int written) {
  return "書き出したファイルを Velorna で読み込むと " + std::to_string(written) + " 個の音のうち " +
         std::to_string(kept) +
         " 個しか残りません（1 曲に入るイベント数を超えます）。ほかのシンセサイザーや DAW "
         "ではすべて鳴ります。";
}

// The dialog's closing word on an export of `asked` songs; the paths follow, one a line.
inline std::string Written(int written, int asked) {
  if (written == asked) return std::to_string(written) + " 曲を MIDI ファイルに書き出しました。";
  return std::to_string(asked) + " 曲中 " + std::to_string(written) +
         " 曲を MIDI ファイルに書き出しました。";
}

}  // namespace export_msg
}  // namespace velorna
