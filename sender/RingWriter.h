#pragma once

#include "SendResult.h"

#include <table/SharedReceiverTable.h>

#include <cstddef>
#include <cstdint>

namespace keyferry
{

// One message to append: the sample offset in the receiver's next block, and the MIDI bytes.
struct OutgoingMessage
{
    std::int32_t samplePosition = 0;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// The peer's side of one slot's ring. One writer per slot: two peers appending to the same slot
// at the same time would overwrite each other.
//
// Placement keeps to positions the receiver's walk lands on:
//  - a message goes at writePos when it fits before the end of the ring; one that ends within
//    the last six bytes is published as writePos 0, where the reader goes on anyway;
//  - a message that does not fit, or would end exactly six bytes before the end (a header there
//    could never be valid), goes at 0, and the bytes left at the end are covered by filler
//    messages whose data starts with a data byte, which the receiver drops without an event.
// Free space is measured up to readPos, and the new writePos never reaches it: an append that
// would overwrite unread bytes, or make a full ring look empty, is refused with ringFull. The new
// writePos is published only if writePos is still what the append started from; a claim that
// reset it meanwhile makes the append fail with receiverChanged instead.
class RingWriter
{
public:
    explicit RingWriter (ReceiverSlot& slotToWrite) noexcept : slot (slotToWrite) {}

    // Any thread (the slot's one writer). Appends and publishes one message.
    SendResult append (const OutgoingMessage& message) noexcept;

    // Appends messages in order until one does not fit, publishing them with one store. Sets
    // 'accepted' to how many went in; the result is that of the first one refused, or ok.
    SendResult append (const OutgoingMessage* messages, std::size_t count, std::size_t& accepted) noexcept;

    // Bytes that could be written now without reaching readPos.
    std::uint32_t freeBytes() const noexcept;

    static SendResult validate (const OutgoingMessage& message) noexcept;

private:
    // Writes one message at the write position if it fits in what is free; advances 'position'
    // to the position to publish and adds the ring bytes it moved over to 'used'.
    bool place (const OutgoingMessage& message, std::uint32_t& position, std::uint32_t& used, std::uint32_t free) noexcept;
    void writeMessage (std::uint32_t position, std::int32_t samplePosition, const std::uint8_t* data, std::uint32_t size) noexcept;
    void writeFillersToEnd (std::uint32_t position) noexcept;

    ReceiverSlot& slot;
};

} // namespace keyferry
