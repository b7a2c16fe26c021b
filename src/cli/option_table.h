// The options of velorna-cli, named once: parsing, --help and the manual pages' option lists
// all come from this table, so that adding an option is adding a row.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velorna::cli {

struct CliOptions;

// Which commands an option belongs to; an option given to another is refused by name.
enum CommandMask : unsigned {
  kForConvert = 1U << 0,
  kForInspect = 1U << 1,
  kForTuning = 1U << 2,
  kForPlay = 1U << 5,
  kForSong = kForConvert | kForInspect | kForPlay,
  kInsteadOfCommand = 1U << 3,  // --help, --version, --list-presets: given in a command's place
  kForExport = 1U << 4,
  kForEvery = kForConvert | kForInspect | kForTuning | kForExport | kForPlay,
};

// The sections of --help and of the manual pages, in this order.
enum class OptionGroup { kTuning, kGeneral, kCollection };

// Sets what the option asks for in `options`; an empty text, else what is wrong with `value`
// (for the usage message).
using ApplyOption = std::string (*)(CliOptions& options, const std::string& value);

struct OptionRow {
  std::string shortName;  // "-o", or empty
  std::string longName;   // "--output"
  std::string value;      // what the option takes, e.g. "OUT"; empty for a switch
  unsigned commands;      // CommandMask bits
  OptionGroup group;
  std::string help;  // English, as --help shows it: lines joined by '\n'
  ApplyOption apply;
};

const std::vector<OptionRow>& OptionTable();

// The row of "-o", "--output" and the like; nullptr for a name in no row.
const OptionRow* FindOption(std::string_view name);

// "-o, --output OUT": how --help and the manual pages head an option.
std::string OptionHead(const OptionRow& option);

// The whole --help text.
std::string HelpText();

// A manual page's texts in another language, by the option's long name or the group's
// English heading.
using ManTranslation = std::map<std::string, std::string, std::less<>>;

// The manual page's option list as roff, one .TP paragraph per option under a .SS heading
// per group; in English, else in `translation`'s language (nullopt when it lacks a text).
std::optional<std::string> ManOptionList(const ManTranslation* translation);

}  // namespace velorna::cli
