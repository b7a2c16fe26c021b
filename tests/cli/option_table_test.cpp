// The option table as users meet it: --opt=value, names in any case, options refused by the
// commands they do not concern, and manual pages that list what --help lists.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/test_paths.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;

ProcessResult Cli(std::vector<std::string> args) {
  args.insert(args.begin(), CliPath());
  return RunProcess(args);
}

TEST(CliOptionTable, SpellingsOfOneRequestGiveOneTuning) {
  struct Case {
    std::vector<std::string> plain;
    std::vector<std::string> other;
  };
  const Case cases[] = {
      {{"tuning", "--preset", "just"}, {"tuning", "--preset=Just"}},
      {{"tuning", "--preset", "werckmeister3"}, {"tuning", "--preset", "WERCKMEISTER3"}},
      {{"tuning", "--tonic", "Bb"}, {"tuning", "--tonic=bb"}},
      {{"tuning", "--tonic", "F#"}, {"tuning", "--tonic", "f#"}},
      {{"tuning", "--cents", "0,0,0,0,0,0,0,0,0,0,0,0"},
       {"tuning", "--cents=0,0,0,0,0,0,0,0,0,0,0,0"}},
      {{"tuning", "--a4", "432"}, {"tuning", "--a4=432"}},
  };
  for (const Case& c : cases) {
    const ProcessResult plain = Cli(c.plain), other = Cli(c.other);
    ASSERT_EQ(plain.exitStatus, 0) << plain.err;
    EXPECT_EQ(other.exitStatus, 0) << other.err;
    EXPECT_EQ(plain.out, other.out) << ::testing::PrintToString(c.other);
  }
}

TEST(CliOptionTable, OptionsOutsideTheirCommandOrFormAreUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{"tuning", "--adaptive"}, "--adaptive does not apply to tuning"},
      {{"inspect", "--bits=24", "a.mid"}, "--bits does not apply to inspect"},
      {{"tuning", "--skip-existing"}, "--skip-existing does not apply to tuning"},
      {{"convert", "--bends", "a.mid"}, "--bends does not apply to convert"},
      {{"convert", "--normalize=yes", "a.mid"}, "--normalize takes no value"},
      {{"tuning", "--a4"}, "--a4 needs HZ"},
      {{"tuning", "--a4=501"}, "from 380 to 500 Hz: 501"},
      {{"convert", "--shard", "3/2", "a.mid"}, "--shard needs I/N"},
      {{"convert", "--name", "{song}.wav", "a.mid"}, "not {song}"},
      {{"convert", "-o", "x.wav", "-d", "out", "a.mid"}, "-o names the output itself"},
      {{"convert", "--version"}, "--version does not apply to convert"},
      {{"convert", "--frobnicate", "a.mid"}, "unknown option: --frobnicate"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = Cli(c.args);
    EXPECT_EQ(r.exitStatus, 2) << ::testing::PrintToString(c.args);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

// "-o, --output OUT" and the like, in order, from --help's option lines.
std::vector<std::string> HelpHeads(const std::string& help) {
  std::vector<std::string> heads;
  std::istringstream in(help);
  const std::regex head(R"(^  (-[^ ]*(?: [^ ]+)*?)(?:  .*)?$)");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, head)) heads.push_back(m[1]);
  }
  return heads;
}

// The same from a manual page: the line after each .TP, its fonts and escapes undone.
std::vector<std::string> PageHeads(const fs::path& page) {
  std::vector<std::string> heads;
  std::ifstream in(page);
  bool next = false;
  for (std::string line; std::getline(in, line);) {
    if (next) {
      line = std::regex_replace(line, std::regex(R"(\\f[BIR])"), "");
      line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
      heads.push_back(line);
    }
    next = line == ".TP";
  }
  return heads;
}

TEST(CliOptionTable, ManualPagesListWhatHelpLists) {
  const ProcessResult help = Cli({"--help"});
  ASSERT_EQ(help.exitStatus, 0);
  const std::vector<std::string> heads = HelpHeads(help.out);
  ASSERT_GE(heads.size(), 30u) << help.out;
  const fs::path man = fs::path(VELORNA_SOURCE_DIR) / "packaging" / "man";
  for (const fs::path& page : {man / "velorna-cli.1", man / "ja" / "velorna-cli.1"})
    EXPECT_EQ(PageHeads(page), heads)
        << page << " disagrees with --help: run scripts/update-man-pages.sh";
}

}  // namespace
}  // namespace velorna::test
