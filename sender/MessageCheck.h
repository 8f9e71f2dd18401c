#pragma once

#include <cstddef>
#include <cstdint>

namespace keyferry
{

// What keeps a byte sequence from being exactly one complete MIDI event, the only thing a ring
// message may carry: a receiver keeps just the bytes the status byte calls for, so anything
// after them (a second event, say) would be lost without a word.
enum class MessageFault
{
    none,
    empty,
    tooLarge,            // more than 256 bytes: does not fit in one ring message
    noStatusByte,        // starts with a data byte (00-7F)
    notAStart,           // F4, F5 (undefined) or F7 (ends a system-exclusive message, starts none)
    tooShort,            // fewer bytes than the status byte calls for
    tooLong,             // more bytes than the status byte calls for: more than one event
    statusInside,        // a status byte (80-FF) where a data byte belongs
    unterminatedSysex    // F0 without its closing F7
};

struct MessageCheck
{
    MessageFault fault = MessageFault::none;
    std::size_t expectedSize = 0;  // what the status byte calls for (0 for system exclusive)
    std::size_t offendingIndex = 0; // of the byte at fault, for statusInside
};

// Checks one message: the length its status byte calls for (1, 2 or 3 bytes), or a system-
// exclusive message from F0 to its F7 with nothing but data bytes between.
MessageCheck checkMessage (const std::uint8_t* data, std::size_t size) noexcept;

// What kind of message a status byte starts, in a few words ("note-on", "system exclusive").
const char* describeStatus (std::uint8_t status) noexcept;

} // namespace keyferry
