#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

// The messages of a `keyferry send` command line, checked value by value.
struct ParsedMessage
{
    std::int32_t samplePosition = 0;
    std::vector<std::uint8_t> bytes;
};

struct ParseOutcome
{
    std::vector<ParsedMessage> messages;
    juce::String error; // empty when every token was understood
};

// Parses tokens such as: note-on 1 60 100 --at 32 cc 1 7 100 raw F0 7E 7F 06 01 F7
ParseOutcome parseMessages (const juce::StringArray& tokens);

// The message kinds and their arguments, as the help text lists them.
juce::String describeMessageKinds();
