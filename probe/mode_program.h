#pragma once

namespace kestrel {

// Replaces this process with the mode program `name` from lib/kestrel/ of the
// installation (or build tree) this program runs from, passing argv on as it
// is. Never returns: a program that cannot be started ends the run through
// fail, with one line naming it.
[[noreturn]] void runModeProgram(const char* name, char** argv);

}  // namespace kestrel
