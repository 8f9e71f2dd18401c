#pragma once

#include <table/SharedReceiverTable.h>

#include <juce_core/juce_core.h>

#include <array>
#include <string>

// A plain copy of what the table file says, read through a mapping of its own.
struct TableSnapshot
{
    struct Slot
    {
        bool active = false;
        std::string id, name;
    };

    bool valid = false;
    std::uint32_t changeCounter = 0, activeCount = 0;
    std::array<Slot, keyferry::NumSlots> slots;

    static TableSnapshot read (const juce::File& tableFile);
};
