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
//
// An append is two steps, which ReceiverLink runs apart to re-check the claim in between and
// after: write() puts the bytes into free space, publish() makes them the receiver's. withdraw()
// takes a publication back (see there).
class RingWriter
{
public:
    explicit RingWriter (ReceiverSlot& slotToWrite) noexcept : slot (slotToWrite) {}

    // Messages written into free space but not yet published, and what it takes to publish them.
    struct Written
    {
        std::uint32_t from = 0;  // writePos when the write began
        std::uint32_t to = 0;    // writePos that publishes them
        std::size_t accepted = 0;
        SendResult result = SendResult::ok; // of the first message refused, or ok
    };

    // Writes messages in order until one does not fit; publishes nothing.
    Written write (const OutgoingMessage* messages, std::size_t count) noexcept;

    // Stores written.to as writePos if writePos is still written.from; false if something moved
    // it (a claim resetting it to 0) or nothing was accepted.
    bool publish (const Written& written) noexcept;

    enum class Withdrawal
    {
        withdrawn,    // writePos is back at written.from: nobody reads the messages
        alreadyRead,  // a receiver had read up to written.to: they were delivered
        overtaken     // writePos moved on (a claim reset it, or a peer appended behind)
    };

    // Takes a publication back when the claim changed after publish(): writePos goes back to
    // written.from unless a receiver has read up to written.to already or writePos moved on.
    //
    // What remains: a drain that loaded writePos between publish() and the take-back and stores
    // readPos only after withdraw() has looked at it a second time. The messages then reach the
    // new holder, which then stands at written.to with writePos at written.from and walks the
    // stale bytes between in its next block. That needs a claim, a drain and this call to meet
    // within the few instructions between publish() and withdraw().
    Withdrawal withdraw (const Written& written) noexcept;

    // Any thread (the slot's one writer). Appends and publishes one message.
    SendResult append (const OutgoingMessage& message) noexcept;

    // Appends messages in order until one does not fit, publishing them with one store. Sets
    // 'accepted' to how many went in; the result is that of the first one refused, or ok.
    SendResult append (const OutgoingMessage* messages, std::size_t count, std::size_t& accepted) noexcept;

    // Bytes that could be written now without reaching readPos.
    std::uint32_t freeBytes() const noexcept;

    // ok for exactly one complete MIDI event of at most 256 bytes (see checkMessage).
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
