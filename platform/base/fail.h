#pragma once
#include <string>
#include <string_view>

namespace kestrel {

// Ends the process: sends the lines held for standard output, writes the
// message and one line feed to standard error in one block, exits with
// status 1. Control characters in the message (from a path, say) are written
// escaped, \n as the two characters \ and n, others as \xNN, so that the
// failure stays one line.
[[noreturn]] void fail(std::string_view message);

// "can't write standard output: " and the system's reason for `error`.
std::string cantWriteOutput(int error);

// Standard output refused a write with the system's error number `error`. A
// reader that has gone (EPIPE) ends the run quietly with status 0; anything
// else fails with cantWriteOutput.
[[noreturn]] void outputRefused(int error);

}  // namespace kestrel
