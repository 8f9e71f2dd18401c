#pragma once

#include "MappedTableFile.h"
#include "RingWriter.h"
#include "SendResult.h"

#include <array>
#include <optional>
#include <string>

namespace keyferry
{

// What a peer sees of one slot.
struct SlotStatus
{
    int index = -1;
    bool held = false;
    std::string id;
    std::string name;
    std::uint32_t writePos = 0;
    std::uint32_t readPos = 0;
    std::uint32_t unreadBytes = 0;
};

class ReceiverLink;

// A sending peer's view of receivers.dat. It maps an existing file only; with no file of the
// right size there are no receivers to send to.
class SenderTable
{
public:
    // ok, noReceivers (no file), tableWrongSize or tableUnavailable.
    SendResult open (const std::string& path = MappedTableFile::defaultPath());
    bool isOpen() const noexcept { return file.table() != nullptr; }

    // The operating system's words for why the last open failed (or what was found instead).
    const std::string& openError() const noexcept { return file.failureReason(); }

    // The mapped table itself, for what works on it beyond sending (freeing a dead holder's slot).
    SharedReceiverTable* image() const noexcept { return file.table(); }

    std::array<SlotStatus, NumSlots> slots() const;
    SlotStatus slot (int index) const;

    // Links to the receiver holding the slot now; later sends fail with receiverChanged once
    // that receiver has released it, even if another one claims it again.
    std::optional<ReceiverLink> link (int index, SendResult& result) const;

private:
    MappedTableFile file;
};

// One receiver's claim of one slot, as a peer addresses it. The table must outlive the link.
//
// A send checks the claim, writes and publishes with a compare-exchange from the writePos it
// started at. A claim in between resets writePos to 0, so the publication fails, unless writePos
// was 0 already (every fresh claim, every wrap published as 0): then the send checks the claim
// again after publishing, and where it changed takes the publication back (see
// RingWriter::withdraw for the narrow window that remains) and reports receiverChanged, or
// slotNotHeld when nobody claimed the slot again.
class ReceiverLink
{
public:
    // Points inside a send where tests step in to replay a race at exactly that point.
    enum class SendStage
    {
        claimChecked,  // before the bytes are written and published
        published      // before the claim is checked again
    };
    using Interleaving = void (*) (SendStage stage, void* context);

    int slotIndex() const noexcept { return index; }
    const std::string& receiverId() const noexcept { return id; }

    // True while the slot is held under the identifier seen when the link was made.
    bool isCurrent() const;

    // ok while the slot is held under this link's identifier; slotNotHeld or receiverChanged.
    SendResult claimState() const;

    SendResult send (const OutgoingMessage& message);
    SendResult send (const OutgoingMessage* messages, std::size_t count, std::size_t& accepted);
    SendResult requestReset();

    std::uint32_t freeBytes() const noexcept { return RingWriter (*slot).freeBytes(); }

    // For tests only: called at each SendStage of every send.
    void setInterleaving (Interleaving callback, void* context) noexcept
    {
        interleaving = callback;
        interleavingContext = context;
    }

private:
    friend class SenderTable;
    ReceiverLink (ReceiverSlot& slotToUse, int slotIndex, std::string receiverId);

    void reach (SendStage stage) const
    {
        if (interleaving != nullptr)
            interleaving (stage, interleavingContext);
    }

    ReceiverSlot* slot;
    int index;
    std::string id;
    Interleaving interleaving = nullptr;
    void* interleavingContext = nullptr;
};

} // namespace keyferry
