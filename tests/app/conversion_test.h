// Convert and Stop with the real conversion job; built only when the job links.
#pragma once

namespace velorna::test {

int RunConversionTests(int argc, char** argv);

}  // namespace velorna::test
