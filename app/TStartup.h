// The tool's start-up sequence, apart from main() so that it can be tested.
#pragma once

#include <functional>

namespace vantelo {

class TApplication;

// Creates the modules with `createModules` (the main window first, then the
// data module), runs the message loop and shuts down, answering the process's
// exit code: 0 after a normal run; 1 when an error escaped module creation,
// after the generic report has shown it (the loop then never runs; what was
// created goes when the application object does).
int RunTool(TApplication& application, const std::function<void()>& createModules);

}  // namespace vantelo
