// The MIDI library's error convention: a module tag, an eight-digit hexadecimal code and
// a Japanese message, e.g. "GENE01000002 メモリが不足しています。".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/reporter.h"

namespace velorna {

enum class LibraryModule { GENE, MDEV, M0DT, M1DT, MDLD, MDTK, MUEV, LEVL, EXPT, AOUT };

std::string_view ModuleTag(LibraryModule module);

// Formats "TAG%08X %s" and shows it.
void ShowLibraryError(Reporter& reporter, LibraryModule module, uint32_t code,
                      std::string_view message, ReportKind kind = ReportKind::kMessage);

// The two modules whose sites pass only a code: the message comes from their table,
// or the module's fallback for codes the table does not list.
std::string_view M1dtMessage(uint32_t code);
std::string_view MdtkMessage(uint32_t code);
void ShowM1dtError(Reporter& reporter, uint32_t code);
void ShowMdtkError(Reporter& reporter, uint32_t code);

namespace msg {
// GENE
inline constexpr std::string_view kOutOfMemory = "メモリが不足しています。";
inline constexpr std::string_view kFileOpenFailed =
    "ファイルが開けませんでした。ファイルリストを絶対パスで記述してみてください。\n"
    "あるいは、出力フォルダや作業フォルダの設定などを確認してください。";
inline constexpr std::string_view kDataTooLarge = "データが大きすぎます。";
inline constexpr std::string_view kFileSizeError = "ファイルサイズにエラーがあります。";
// MDEV
inline constexpr std::string_view kMidiEventError = "MidiEventでエラーが発生しました。";
// M0DT
inline constexpr std::string_view kFormat0Internal =
    "Midiのフォーマット0のデータで内部エラーが発生しました。";
// M1DT fallback
inline constexpr std::string_view kFormat1Fallback =
    "Midiのフォーマット１のデータでエラーが発生しました。";
// MDLD
inline constexpr std::string_view kLoaderInternal =
    "Midiファイルの読み込みで内部エラーが発生しました。";
inline constexpr std::string_view kNotMidiFile = "Midiファイルではありません。";
inline constexpr std::string_view kLoadTooLarge =
    "Midiファイルの読み込みでデータが大きすぎてロードできませんでした。";
inline constexpr std::string_view kMidiOpenFailed = "Midiファイルが開けませんでした。";
// MUEV
inline constexpr std::string_view kEventDataTooLarge =
    "イベントのデータサイズが大きすぎます。MFiの機種依存の音色設定が含まれている場合は問題ありませ"
    "ん。";
inline constexpr std::string_view kEventDataError = "イベントのデータでエラーが発生しました。";
// MDTK fallback and the texts sites pass for codes the table leaves to the fallback
inline constexpr std::string_view kTrackFallback = "Midiのトラックデータでエラーが発生しました。";
inline constexpr std::string_view kLargeEvent = "サイズが大きすぎるイベントが含まれています。";
inline constexpr std::string_view kMultipleMasterVolume =
    "複数のマスターボリュームが設定されています。";
inline constexpr std::string_view kNoteNumberRepaired =
    "内部処理のエラーでノートナンバーが異常になりましたので０に修正しました。";
// LEVL: the output's level; the count of clipped samples goes before the text
inline constexpr std::string_view kClipped =
    "個のサンプルがクリップしました。ノーマライズ、ラウドネス、またはゲインで音量を下げると避け"
    "られます (--normalize、--loudness、--gain)。";
// AOUT: playback through the machine's audio output
inline constexpr std::string_view kNoAudioOutput =
    "音声出力が使えません。このコンピューターでは再生できません。";
// the count of underruns goes after the text
inline constexpr std::string_view kUnderruns = "再生が途切れた回数 (アンダーラン):";
}  // namespace msg

// Codes raised by the library.
namespace code {
inline constexpr uint32_t kGeneOutOfMemory = 0x01000002;
inline constexpr uint32_t kGeneFileOpen = 0x01000007;
inline constexpr uint32_t kGeneDataTooLarge = 0x0100000A;
inline constexpr uint32_t kGeneFileSize = 0x0100000D;
inline constexpr uint32_t kMdev = 0x00000000;
inline constexpr uint32_t kM0dtInternal = 0x04000005;
inline constexpr uint32_t kM1dtFallback = 0x00000000;
inline constexpr uint32_t kM1dtTrackCount = 0x03000001;
inline constexpr uint32_t kM1dtNotFormat1 = 0x03000002;
inline constexpr uint32_t kM1dtInternal = 0x03000003;
inline constexpr uint32_t kM1dtNotMidi = 0x03000004;
inline constexpr uint32_t kM1dtMasterVolumeTwice = 0x03000006;
inline constexpr uint32_t kM1dtTooLarge = 0x03000019;
inline constexpr uint32_t kMdldInternal = 0x17000001;
inline constexpr uint32_t kMdldNotMidi = 0x17000002;
inline constexpr uint32_t kMdldTooLarge = 0x17000003;
inline constexpr uint32_t kMuevTooLarge = 0x06000001;
inline constexpr uint32_t kMuevDataError = 0x06000002;
inline constexpr uint32_t kMdtkInternal = 0x0D000001;
inline constexpr uint32_t kMdtkUndefinedEvent = 0x0D000002;
inline constexpr uint32_t kMdtkWrongChannel = 0x0D000003;
inline constexpr uint32_t kMdtkWrongTempo = 0x0D000005;
inline constexpr uint32_t kMdtkTooMuchData = 0x0D000006;
inline constexpr uint32_t kMdtkNotMidi = 0x0D000007;
inline constexpr uint32_t kMdtkLargeEvent = 0x0D00000B;
inline constexpr uint32_t kMdtkBadProgram = 0x0D00000C;
inline constexpr uint32_t kMdtkMasterVolumeTwice = 0x0D000011;
inline constexpr uint32_t kMdtkLargeEventData = 0x0D000016;
inline constexpr uint32_t kMdtkNoteNumber = 0x0D000017;
inline constexpr uint32_t kMdtkCorrupt = 0x0D000019;
inline constexpr uint32_t kMdtkAddFailed = 0x0D00001A;
inline constexpr uint32_t kMdtkTrackFault = 0x0D000026;
inline constexpr uint32_t kMdtkTimeSignature = 0x0D000027;
inline constexpr uint32_t kMdtkDataAddition = 0x0D000028;
inline constexpr uint32_t kLevlClipped = 0x1B000001;
inline constexpr uint32_t kAoutNoOutput = 0x1C000001;
inline constexpr uint32_t kAoutUnderruns = 0x1C000002;
}  // namespace code

}  // namespace velorna
