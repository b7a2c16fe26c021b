// velorna-man-options [TRANSLATION.tsv]: the option list of velorna-cli's manual page, as
// roff, from the option table; with a file of "name<TAB>text" lines, in its language.
#include <cstdio>
#include <fstream>
#include <string>

#include "cli/option_table.h"

int main(int argc, char** argv) {
  using namespace velorna::cli;
  ManTranslation translation;
  if (argc > 1) {
    std::ifstream in(argv[1]);
    if (!in) {
      std::fprintf(stderr, "velorna-man-options: cannot read %s\n", argv[1]);
      return 1;
    }
    for (std::string line; std::getline(in, line);) {
      const size_t tab = line.find('\t');
      if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
      translation[line.substr(0, tab)] = line.substr(tab + 1);
    }
  }
  const auto roff = ManOptionList(argc > 1 ? &translation : nullptr);
  if (!roff) {
    std::fprintf(stderr, "velorna-man-options: %s lacks the text of an option or group\n", argv[1]);
    return 1;
  }
  std::fputs(roff->c_str(), stdout);
  return 0;
}
