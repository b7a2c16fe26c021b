// Where the dialog finds its help page, in a build folder and in an installed tree.
#pragma once

namespace velorna::test {

int RunHelpPageTests(int argc, char** argv);

}  // namespace velorna::test
