#include "cli/song_report.h"

#include <cinttypes>
#include <cmath>

namespace velorna::cli {
namespace {

constexpr unsigned char kFirstPrintable = 0x20;

// A JSON string: quotes, backslashes and control characters escaped; other bytes as they are
// (file names are bytes, and UTF-8 ones stay readable).
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < kFirstPrintable) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

const char* OutcomeName(SongOutcome outcome) {
  switch (outcome) {
    case SongOutcome::kWritten:
      return "written";
    case SongOutcome::kStopped:
      return "stopped";
    case SongOutcome::kFailed:
      return "failed";
    case SongOutcome::kSkipped:
      return "skipped";
  }
  return "failed";
}

// A level in dB or LU to two decimals; null where it is not a number (a silent peak).
std::string Decibels(std::optional<double> value) {
  if (!value || !std::isfinite(*value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", *value);
  return text;
}

std::string LevelFields(const OutputLevel& level) {
  std::string fields = ",\"peak_dbfs\":" + Decibels(level.peakDb) +
                       ",\"clipped_samples\":" + std::to_string(level.clippedSamples) +
                       ",\"loudness_lufs\":" + Decibels(level.loudness);
  if (level.truePeakDb) fields += ",\"true_peak_dbtp\":" + Decibels(level.truePeakDb);
  if (level.loudnessRange) fields += ",\"loudness_range_lu\":" + Decibels(level.loudnessRange);
  return fields;
}

}  // namespace

SongOutcome OutcomeOf(ConversionResult result) {
  switch (result) {
    case ConversionResult::kWritten:
      return SongOutcome::kWritten;
    case ConversionResult::kWrittenAfterStop:
    case ConversionResult::kStoppedBeforeSound:
      return SongOutcome::kStopped;
    case ConversionResult::kNotWritten:
      return SongOutcome::kFailed;
  }
  return SongOutcome::kFailed;
}

std::string JsonLine(const SongRecord& record) {
  std::string codes;
  for (const std::string& code : record.codes) codes += (codes.empty() ? "" : ",") + Quoted(code);
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, "\"seconds\":%.3f,\"notes\":%" PRId64, record.seconds,
                record.notes);
  return "{\"input\":" + Quoted(record.input) + ",\"output\":" + Quoted(record.output) +
         ",\"result\":\"" + OutcomeName(record.result) + "\",\"codes\":[" + codes + "]," + numbers +
         (record.level && record.result != SongOutcome::kFailed ? LevelFields(*record.level) : "") +
         "}";
}

SongReport::SongReport(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {}

SongReport::~SongReport() {
  if (file_) std::fclose(file_);
}

void SongReport::Write(const SongRecord& record) {
  const std::string line = JsonLine(record) + "\n";
  std::lock_guard lock(mutex_);
  if (!file_) return;
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

}  // namespace velorna::cli
