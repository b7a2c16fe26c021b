// Convert and Stop with the real conversion job.
#pragma once

namespace velorna::test {

int RunConversionTests(int argc, char** argv);

}  // namespace velorna::test
