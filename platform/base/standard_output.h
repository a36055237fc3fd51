#pragma once
// The lines a program writes on standard output. They go out in blocks of
// whole lines, at most what a pipe takes in one piece (a longer line alone),
// so that a reader never gets part of a line, not even from a killed process.
// A write that standard output refuses ends the run (outputRefused).
#include <string_view>

namespace kestrel {

// One line; the line feed is added.
void writeLine(std::string_view line);

// Sends the lines still held; before a program ends with status 0.
void flushLines();

// Sends the lines still held, ignoring a refusal: for a run that is already
// failing for another reason.
void flushLinesWhileFailing();

}  // namespace kestrel
