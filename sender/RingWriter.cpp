#include "RingWriter.h"

#include "MessageCheck.h"

#include <algorithm>
#include <cstring>

namespace keyferry
{
namespace
{
// The last position at which a whole header fits before the end of the ring.
constexpr std::uint32_t lastHeaderStart = RingSize - MessageHeaderSize;

// Where the reader reads its next header, standing at a published position: beyond the last
// header start it goes on at 0.
constexpr std::uint32_t effective (std::uint32_t position) noexcept
{
    return position > lastHeaderStart ? 0 : position;
}

// Ring bytes that may be written from writePos on; the new writePos must stay short of readPos,
// or a full ring would read as an empty one.
constexpr std::uint32_t freeBetween (std::uint32_t writePos, std::uint32_t readPos) noexcept
{
    if (writePos == readPos)
        return RingSize;

    const auto w = effective (writePos);
    const auto r = effective (readPos);
    return r >= w ? r - w : RingSize - w + r;
}
} // namespace

SendResult RingWriter::validate (const OutgoingMessage& message) noexcept
{
    switch (checkMessage (message.data, message.size).fault)
    {
        case MessageFault::none: return SendResult::ok;
        case MessageFault::empty: return SendResult::emptyMessage;
        case MessageFault::tooLarge: return SendResult::messageTooLarge;
        default: return SendResult::notOneMessage;
    }
}

std::uint32_t RingWriter::freeBytes() const noexcept
{
    const auto writePos = slot.writePos.load();
    const auto readPos = slot.readPos.load();
    const auto free = freeBetween (writePos, readPos);
    return free > 0 ? free - 1 : 0;
}

void RingWriter::writeMessage (std::uint32_t position, std::int32_t samplePosition, const std::uint8_t* data, std::uint32_t size) noexcept
{
    const auto msgSize = static_cast<std::uint16_t> (size);
    auto* header = slot.ring + position;
    std::memcpy (header, &samplePosition, sizeof (samplePosition));
    std::memcpy (header + 4, &msgSize, sizeof (msgSize));

    if (data != nullptr)
        std::memcpy (header + MessageHeaderSize, data, size);
    else
        std::memset (header + MessageHeaderSize, 0, size);
}

void RingWriter::writeFillersToEnd (std::uint32_t position) noexcept
{
    // Fewer than six bytes left are skipped by the reader. Exactly six can only be left by
    // another peer; a header there is corrupt whatever it holds, which the reader logs and
    // skips, so even then nothing is lost.
    while (RingSize - position >= MessageHeaderSize + 1)
    {
        const auto room = RingSize - position;
        auto size = std::min (MaxMessageSize, room - MessageHeaderSize);

        if (room - MessageHeaderSize - size == MessageHeaderSize)
            --size; // never leave exactly one header's worth behind

        writeMessage (position, 0, nullptr, size); // data byte 0: no event
        position += MessageHeaderSize + size;
    }
}

bool RingWriter::place (const OutgoingMessage& message, std::uint32_t& position, std::uint32_t& used, std::uint32_t free) noexcept
{
    const auto size = static_cast<std::uint32_t> (message.size);
    const auto total = MessageHeaderSize + size;
    const auto end = position + total;
    const auto fitsHere = end <= RingSize && end != lastHeaderStart;

    const auto start = fitsHere ? position : 0;
    const auto next = effective (start + total);
    const auto advance = fitsHere ? (next == 0 ? RingSize - position : total) : RingSize - position + total;

    if (used + advance >= free)
        return false;

    if (! fitsHere)
        writeFillersToEnd (position);

    writeMessage (start, message.samplePosition, message.data, size);
    position = next;
    used += advance;
    return true;
}

SendResult RingWriter::append (const OutgoingMessage& message) noexcept
{
    std::size_t accepted = 0;
    return append (&message, 1, accepted);
}

RingWriter::Written RingWriter::write (const OutgoingMessage* messages, std::size_t count) noexcept
{
    Written written;
    written.from = slot.writePos.load();
    const auto free = freeBetween (written.from, slot.readPos.load());
    auto position = effective (written.from);
    std::uint32_t used = 0;

    for (std::size_t i = 0; i < count; ++i)
    {
        written.result = validate (messages[i]);

        if (written.result != SendResult::ok)
            break;

        if (! place (messages[i], position, used, free))
        {
            written.result = SendResult::ringFull;
            break;
        }

        ++written.accepted;
    }

    written.to = position;
    return written;
}

bool RingWriter::publish (const Written& written) noexcept
{
    if (written.accepted == 0)
        return false;

    // The bytes are complete before this store; the receiver loads writePos before reading any.
    // A compare-exchange rather than a plain store: if a receiver claimed the slot meanwhile it
    // has set writePos to 0, and publishing our position would hand it bytes it never asked for.
    auto expected = written.from;
    return slot.writePos.compare_exchange_strong (expected, written.to);
}

RingWriter::Withdrawal RingWriter::withdraw (const Written& written) noexcept
{
    // Already read: the messages were delivered and both positions agree.
    if (slot.readPos.load() == written.to)
        return Withdrawal::alreadyRead;

    auto expected = written.to;
    if (! slot.writePos.compare_exchange_strong (expected, written.from))
        return Withdrawal::overtaken;

    // A drain that loaded writePos just before the take-back may have finished meanwhile: then the
    // messages were delivered, and writePos goes forward again so that the positions agree.
    if (slot.readPos.load() == written.to)
    {
        expected = written.from;
        slot.writePos.compare_exchange_strong (expected, written.to);
        return Withdrawal::alreadyRead;
    }

    return Withdrawal::withdrawn;
}

SendResult RingWriter::append (const OutgoingMessage* messages, std::size_t count, std::size_t& accepted) noexcept
{
    const auto written = write (messages, count);
    accepted = written.accepted;

    if (written.accepted > 0 && ! publish (written))
    {
        accepted = 0;
        return SendResult::receiverChanged;
    }

    return written.result;
}

} // namespace keyferry
