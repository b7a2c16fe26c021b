// Export MIDI from the dialog.
#pragma once

namespace velorna::test {

int RunExportPanelTests(int argc, char** argv);

}  // namespace velorna::test
