// The dialog's presets, reference pitch, Scala files and output choices.
#pragma once

namespace velorna::test {

int RunTuningControlsTests(int argc, char** argv);

}  // namespace velorna::test
