#include "audio/glib_log.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velorna {
namespace {

using Texts = std::vector<std::string>;

// Jobs that overlap in any order: each verbose one hears the libraries while it runs and is
// the latest, and nothing reaches it once it has ended.
TEST(LibraryLog, EachJobHearsTheLibrariesOnlyWhileItRuns) {
  RecordingReporter first, second;
  auto a = std::make_unique<LibraryLogTarget>(&first);
  ForwardLibraryLog("a alone");
  auto b = std::make_unique<LibraryLogTarget>(&second);
  const LibraryLogTarget quiet(nullptr);  // a job that is not verbose changes nothing
  ForwardLibraryLog("b is the latest");
  a.reset();  // the earlier job ends first: the later one keeps its log
  ForwardLibraryLog("b alone");
  b.reset();
  ForwardLibraryLog("nobody");
  EXPECT_EQ(first.texts(), (Texts{"a alone"}));
  EXPECT_EQ(second.texts(), (Texts{"b is the latest", "b alone"}));
}

}  // namespace
}  // namespace velorna
