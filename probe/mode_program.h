#pragma once

namespace kestrel {

// What a mode's memory is for: a mode that loads models has its allocator
// set for their large copies (see mode_program.cpp).
enum class ModeMemory { Plain, Models };

// Replaces this process with the mode program `name` from lib/kestrel/ of the
// installation (or build tree) this program runs from, passing argv on as it
// is. Never returns: a program that cannot be started ends the run through
// fail, with one line naming it.
[[noreturn]] void runModeProgram(const char* name, char** argv, ModeMemory memory = ModeMemory::Plain);

// Runs the mode module `name` (lib/kestrel/<name>.so) in this process: its
// entry point, kModeEntry, is called with argc and argv and ends the process
// itself. For a mode that is all start, where a second program's start would
// be a fifth of the run. Never returns: a module that cannot be loaded ends
// the run through fail, with one line naming it.
[[noreturn]] void runModeModule(const char* name, int argc, char** argv);

// The one symbol a mode module exports: void(int argc, char** argv), never returning.
inline constexpr const char* kModeEntry = "kestrel_mode_main";

}  // namespace kestrel
