#include "base/library_error.h"

#include <array>
#include <cstdio>
#include <utility>

namespace velorna {

std::string_view ModuleTag(LibraryModule module) {
  switch (module) {
    case LibraryModule::GENE:
      return "GENE";
    case LibraryModule::MDEV:
      return "MDEV";
    case LibraryModule::M0DT:
      return "M0DT";
    case LibraryModule::M1DT:
      return "M1DT";
    case LibraryModule::MDLD:
      return "MDLD";
    case LibraryModule::MDTK:
      return "MDTK";
    case LibraryModule::MUEV:
      return "MUEV";
    case LibraryModule::LEVL:
      return "LEVL";
    case LibraryModule::EXPT:
      return "EXPT";
    case LibraryModule::AOUT:
      return "AOUT";
  }
  return "GENE";
}

void ShowLibraryError(Reporter& reporter, LibraryModule module, uint32_t code,
                      std::string_view message, ReportKind kind) {
  std::string tag(ModuleTag(module));
  reporter.Show(Report{tag, code, CodeText(tag, code) + " " + std::string(message), kind});
}

namespace {

using Entry = std::pair<uint32_t, std::string_view>;

constexpr std::array kM1dtTable{
    Entry{0x03000001, "トラック数のエラーです。"},
    Entry{0x03000002, "フォーマット１ではありません。"},
    Entry{0x03000003, "Midiのフォーマット１のデータで内部エラーが発生しました。"},
    Entry{0x03000004, "Midiファイルではないか、ファイルにマックバイナリがついています。"},
    Entry{0x03000005, "ファイルを開けませんでした。"},
    Entry{0x03000006, "マスターボリュームが複数設定されています。"},
    Entry{0x03000007,
          "ドラムにプログラムチェンジが設定されています。(または、チャネル10以外をドラムとして"
          "使用するシステムエクスクルーシブが設定されています。)"},
    Entry{0x03000008, "扱えない拍子記号が含まれていました。"},
    Entry{0x03000009, "設定されているテンポの数が多すぎます。"},
    Entry{0x0300000A, "複数のSysExTrackがあります。"},
    Entry{0x0300000B, "システムチャネルが重複しています。"},
    Entry{0x0300000C, "チャネルが重複しています。"},
    Entry{0x03000011,
          "複数プログラムチェンジのトラックを分割しようとしましたが、使用できるチャネルがありません"
          "でした。"},
    Entry{0x03000012, "ドラムトラックがありませんでした。"},
    Entry{0x03000015,
          "プログラムチェンジが設定されていないトラックがありましたので０を設定しました。"},
    Entry{0x03000016, "マスターボリュームが設定されていませんでしたので127を設定しました。"},
    Entry{0x03000017, "１つのトラックに複数のピッチベンドセンシティビティが設定されていました。"},
    Entry{0x03000018, "ピッチベンドセンシティビティに０が設定されているトラックがありました。"},
    Entry{0x03000019, "データが大きすぎます。"},
    Entry{0x0300001A, "チャネル数で異常が発生しました。"},
    Entry{0x0300001B, "開始位置で異常が発生しました。"},
    Entry{0x0300001D, "システムエクスクルーシブに異常が発生しました。"},
    Entry{0x0300001E, "チャネルに異常が発生しました。"},
    Entry{0x03000020, "プログラムチェンジに異常が発生しました。"},
    Entry{0x03000021, "内部データに異常が発生しました。"},
};

constexpr std::array kMdtkTable{
    Entry{0x0D000001, "Midiのトラックデータで内部エラーが発生しました。"},
    Entry{0x0D000002, "未定義のMIDIイベントが含まれていました。"},
    Entry{0x0D000003, "チャネルに誤りがあります。"},
    Entry{0x0D000005, "テンポに誤りがあります。"},
    Entry{0x0D000006, "データの量が多すぎます。"},
    Entry{0x0D000007, "MIDIファイルではないか、マックバイナリがついているファイルです。"},
    Entry{0x0D000008,
          "ドラムで指定されている音が35(バスドラ)～81(オープントライアングル)の範囲内にありません。"
          "範囲内に調整しました。"},
    Entry{0x0D00000C, "プログラム・チェンジで不正な番号がありました。0に調整しました。"},
    Entry{0x0D00000D, "ノートオンが重複していました。"},
    Entry{0x0D00000E, "ノートオフが重複していました。"},
    Entry{0x0D000010,
          "このアルゴリズムで、トップノートは間引かないという機能は未実装です。(無視されます。)"},
    Entry{0x0D000013, "ドラムのバンクセレクトで０以外の値が設定されていました。"},
    Entry{0x0D000014, "ノートナンバーの異常が検出されました。"},
    Entry{0x0D000015, "Midiのトラックデータでテンポデータの異常が検出されました。"},
    Entry{0x0D000018, "中央音の検出に失敗しました。"},
    Entry{0x0D000019, "演奏データが異常です。"},
    Entry{0x0D00001A, "データの追加に失敗しました。"},
    Entry{0x0D00001B, "演奏データが異常です。"},
    Entry{0x0D00001C, "演奏データの分割に失敗しました。"},
    Entry{0x0D00001D, "和音数に異常が発生しました。"},
    Entry{0x0D00001E, "チャネルボリュームに異常が発生しました。"},
    Entry{0x0D00001F, "トラックの結合で異常が発生しました。"},
    Entry{0x0D000020, "チャネルに異常が発生しました。"},
    Entry{0x0D000021, "音符に異常が発生しました。"},
    Entry{0x0D000022, "データの追加で異常が発生しました。"},
    Entry{0x0D000023, "データの処理で異常が発生しました。"},
    Entry{0x0D000024, "値の異常が発生しました。"},
    Entry{0x0D000025, "演奏開始の異常が発生しました。"},
    Entry{0x0D000026, "トラックに異常が発生しました。"},
    Entry{0x0D000027, "拍子に異常が発生しました。"},
    Entry{0x0D000028, "データ追加に異常が発生しました。"},
    Entry{0x0D000029, "データ操作に異常が発生しました。"},
    Entry{0x0D00002A, "和音数の処理に異常が発生しました。"},
    Entry{0x0D00002B, "ピッチベンドの処理に異常が発生しました。"},
    Entry{0x0D00002C, "データ編集の処理に異常が発生しました。"},
    Entry{0x0D00002D, "データ編集の処理に異常が発生しました。"},
};

template <typename Table>
std::string_view Lookup(const Table& table, uint32_t code, std::string_view fallback) {
  for (const auto& [c, text] : table)
    if (c == code) return text;
  return fallback;
}

}  // namespace

std::string_view M1dtMessage(uint32_t code) {
  return Lookup(kM1dtTable, code, msg::kFormat1Fallback);
}

std::string_view MdtkMessage(uint32_t code) {
  return Lookup(kMdtkTable, code, msg::kTrackFallback);
}

void ShowM1dtError(Reporter& reporter, uint32_t code) {
  ShowLibraryError(reporter, LibraryModule::M1DT, code, M1dtMessage(code));
}

void ShowMdtkError(Reporter& reporter, uint32_t code) {
  ShowLibraryError(reporter, LibraryModule::MDTK, code, MdtkMessage(code));
}

}  // namespace velorna
