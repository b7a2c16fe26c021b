#include "app/dialog_settings.h"

#include <QSettings>
#include <QStringList>
#include <QVariantList>
#include <algorithm>
#include <memory>

#include "base/limits.h"
#include "tuning/channel_tuning.h"

namespace velorna {
namespace {

constexpr char kSongFolder[] = "songFolder";
constexpr char kSoundFont[] = "soundFont";
constexpr char kOutputFolder[] = "outputFolder";
constexpr char kCents[] = "tuning/cents";
constexpr char kKey[] = "tuning/key";
constexpr char kPreset[] = "tuning/preset";
constexpr char kA4[] = "tuning/a4";
constexpr double kNotSetA4Hz = 0;
constexpr char kScl[] = "tuning/scl";
constexpr char kKbm[] = "tuning/kbm";
constexpr char kAdaptive[] = "tuning/adaptive";
constexpr char kOutputType[] = "output/type";
constexpr char kBits[] = "output/bits";
constexpr char kRate[] = "output/rate";
constexpr char kNormalize[] = "output/normalize";
constexpr char kLoudness[] = "output/loudness";  // LUFS; absent: no loudness target
constexpr char kLanguage[] = "language";
constexpr char kExportForm[] = "export/form";
constexpr char kIgnoreSongTuning[] = "tuning/ignoreSong";
constexpr char kPartTunings[] = "tuning/parts";  // sixteen sources, empty: the dialog's

// One file of the user's (test mode moves it aside for the tests).
std::unique_ptr<QSettings> OpenStore() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                     QStringLiteral("velorna"), QStringLiteral("velorna"));
}

}  // namespace

DialogSettings LoadDialogSettings() {
  const auto owner = OpenStore();
  const QSettings& store = *owner;
  DialogSettings settings;
  settings.songFolder = store.value(kSongFolder).toString();
  settings.soundFont = store.value(kSoundFont).toString();
  settings.outputFolder = store.value(kOutputFolder).toString();
  settings.preset = store.value(kPreset).toString();
  // Earlier versions stored 440 for "not set": their 440 meant offsets from 440 Hz.
  const double a4 = store.value(kA4, kNotSetA4Hz).toDouble();
  if (a4 != kNotSetA4Hz && a4 != kStandardA4Hz) settings.a4Hz = a4;
  settings.sclFile = store.value(kScl).toString();
  settings.kbmFile = store.value(kKbm).toString();
  settings.adaptive = store.value(kAdaptive, false).toBool();
  const int type = store.value(kOutputType, 0).toInt();
  if (type >= 0 && type <= static_cast<int>(SoundFileType::kAiff))
    settings.outputType = static_cast<SoundFileType>(type);
  if (const int bits = store.value(kBits, kPlainBits).toInt();
      bits == kHighBits || bits == kFloatBits)
    settings.outputFormat.bits = bits;
  const int rate = store.value(kRate, kSampleRate).toInt();
  if (IsOutputRate(rate)) settings.outputFormat.sampleRate = rate;
  settings.outputFormat.normalize = store.value(kNormalize, false).toBool();
  bool loudnessRead = false;
  const double loudness = store.value(kLoudness).toDouble(&loudnessRead);
  if (loudnessRead && !settings.outputFormat.normalize) settings.outputFormat.loudness = loudness;
  if (const int form = store.value(kExportForm, 0).toInt();
      form >= 0 && form <= static_cast<int>(ExportForm::kMts))
    settings.exportForm = static_cast<ExportForm>(form);
  settings.ignoreSongTuning = store.value(kIgnoreSongTuning, false).toBool();
  if (const QStringList parts = store.value(kPartTunings).toStringList();
      parts.size() == kPartCount)
    for (size_t part = 0; part < settings.partTunings.size(); ++part) {
      // A preset, "none" or Scala files, as the dialog offers; anything else is no setting.
      const QString& source = parts[static_cast<qsizetype>(part)];
      if (IsChannelSource(source.toStdString())) settings.partTunings[part] = source;
    }
  const QVariantList cents = store.value(kCents).toList();
  if (cents.size() == static_cast<qsizetype>(ScaleSettings{}.cents.size())) {
    ScaleSettings tuning;
    for (size_t pc = 0; pc < tuning.cents.size(); ++pc) {
      bool ok = false;
      const double value = cents[static_cast<qsizetype>(pc)].toDouble(&ok);
      if (!ok) return settings;  // a damaged entry: the initial tuning, not half of one
      tuning.cents[pc] = static_cast<CentTable::value_type>(value);
    }
    tuning.keyIndex = store.value(kKey, tuning.keyIndex).toInt();
    settings.tuning = tuning;
  }
  return settings;
}

void SaveDialogSettings(const DialogSettings& settings) {
  const auto store = OpenStore();
  store->setValue(kSongFolder, settings.songFolder);
  store->setValue(kSoundFont, settings.soundFont);
  store->setValue(kOutputFolder, settings.outputFolder);
  if (settings.tuning) {
    QVariantList cents;
    for (const auto value : settings.tuning->cents) cents << static_cast<double>(value);
    store->setValue(kCents, cents);
    store->setValue(kKey, settings.tuning->keyIndex);
  }
  store->setValue(kPreset, settings.preset);
  store->setValue(kA4, settings.a4Hz.value_or(kNotSetA4Hz));
  store->setValue(kScl, settings.sclFile);
  store->setValue(kKbm, settings.kbmFile);
  store->setValue(kAdaptive, settings.adaptive);
  store->setValue(kOutputType, static_cast<int>(settings.outputType));
  store->setValue(kBits, settings.outputFormat.bits);
  store->setValue(kRate, settings.outputFormat.sampleRate);
  store->setValue(kNormalize, settings.outputFormat.normalize);
  store->setValue(kExportForm, static_cast<int>(settings.exportForm));
  store->setValue(kIgnoreSongTuning, settings.ignoreSongTuning);
  store->setValue(kPartTunings,
                  QStringList(settings.partTunings.begin(), settings.partTunings.end()));
  if (settings.outputFormat.loudness) {
    store->setValue(kLoudness, *settings.outputFormat.loudness);
  } else {
    store->remove(kLoudness);
  }
}

QString LoadLanguageSetting() {
  return OpenStore()->value(kLanguage).toString();
}

void SaveLanguageSetting(const QString& code) {
  OpenStore()->setValue(kLanguage, code);
}

void ClearDialogSettings() {
  OpenStore()->clear();
}

}  // namespace velorna
