#pragma once

#include <juce_core/juce_core.h>

#include <iosfwd>

// The `keyferry` command line, runnable in-process: returns the exit status.
//   0 done, 1 the table or a receiver did not allow it, 2 the command line was wrong,
//   130 interrupted.
int runKeyferry (const juce::StringArray& arguments, std::ostream& out, std::ostream& err);

// The text of `keyferry --help`.
juce::String keyferryHelp();
