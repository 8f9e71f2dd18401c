#include "SenderTable.h"

#include <cstring>

namespace keyferry
{
namespace
{
template <std::size_t size>
std::string textOf (const char (&field)[size])
{
    return std::string (field, ::strnlen (field, size));
}

std::uint32_t unreadBetween (std::uint32_t readPos, std::uint32_t writePos)
{
    if (readPos == writePos)
        return 0;
    return writePos > readPos ? writePos - readPos : RingSize - std::min (readPos, RingSize) + writePos;
}
} // namespace

SendResult SenderTable::open (const std::string& path)
{
    switch (file.open (path))
    {
        case MappedTableFile::Status::mapped: return SendResult::ok;
        case MappedTableFile::Status::missing: return SendResult::noReceivers;
        case MappedTableFile::Status::wrongSize: return SendResult::tableWrongSize;
        case MappedTableFile::Status::failed: break;
    }
    return SendResult::tableUnavailable;
}

SlotStatus SenderTable::slot (int index) const
{
    SlotStatus status;
    status.index = index;

    if (! isOpen() || index < 0 || index >= NumSlots)
        return status;

    // changeCounter first: every claim it counts has its texts complete.
    const auto& table = *file.table();
    table.changeCounter.load();
    const auto& slot = table.slots[index];

    status.held = slot.active.load() != 0;
    status.id = textOf (slot.id);
    status.name = textOf (slot.name);
    status.writePos = slot.writePos.load();
    status.readPos = slot.readPos.load();
    status.unreadBytes = unreadBetween (status.readPos, status.writePos);
    return status;
}

std::array<SlotStatus, NumSlots> SenderTable::slots() const
{
    std::array<SlotStatus, NumSlots> all;
    for (int i = 0; i < NumSlots; ++i)
        all[(std::size_t) i] = slot (i);
    return all;
}

std::optional<ReceiverLink> SenderTable::link (int index, SendResult& result) const
{
    if (! isOpen())
        result = SendResult::noReceivers;
    else if (index < 0 || index >= NumSlots)
        result = SendResult::slotOutOfRange;
    else if (const auto status = slot (index); ! status.held)
        result = SendResult::slotNotHeld;
    else
    {
        result = SendResult::ok;
        return ReceiverLink (file.table()->slots[index], index, status.id);
    }

    return std::nullopt;
}

ReceiverLink::ReceiverLink (ReceiverSlot& slotToUse, int slotIndex, std::string receiverId)
    : slot (&slotToUse), index (slotIndex), id (std::move (receiverId))
{
}

// Compares the slot's identifier in place: every send checks it, and a 32-character copy would
// allocate each time.
SendResult ReceiverLink::claimState() const
{
    if (slot->active.load() == 0)
        return SendResult::slotNotHeld;

    const auto length = ::strnlen (slot->id, sizeof (slot->id));
    if (length != id.size() || std::memcmp (slot->id, id.data(), length) != 0)
        return SendResult::receiverChanged;

    return SendResult::ok;
}

bool ReceiverLink::isCurrent() const
{
    return claimState() == SendResult::ok;
}

SendResult ReceiverLink::send (const OutgoingMessage& message)
{
    std::size_t accepted = 0;
    return send (&message, 1, accepted);
}

SendResult ReceiverLink::send (const OutgoingMessage* messages, std::size_t count, std::size_t& accepted)
{
    accepted = 0;

    if (const auto state = claimState(); state != SendResult::ok)
        return state;

    reach (SendStage::claimChecked);

    RingWriter writer (*slot);
    const auto written = writer.write (messages, count);

    if (written.accepted == 0)
        return written.result;

    if (! writer.publish (written))
        return SendResult::receiverChanged; // a claim reset writePos since the check

    reach (SendStage::published);

    // Published over a writePos other than 0, the messages went to this link's receiver: a claim
    // in between would have reset writePos to 0 and failed the publication. Over 0 a claim that
    // came after the check resets writePos to the very value the publication expected, and only
    // the identifier tells.
    if (written.from == 0)
    {
        if (const auto state = claimState(); state != SendResult::ok)
        {
            writer.withdraw (written);
            return state;
        }
    }

    accepted = written.accepted;
    return written.result;
}

SendResult ReceiverLink::requestReset()
{
    if (const auto state = claimState(); state != SendResult::ok)
        return state;

    slot->resetRequested.store (1);
    return SendResult::ok;
}

} // namespace keyferry
