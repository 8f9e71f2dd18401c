// The C interface over the sender library: handles that own C++ objects, results for every
// failure, and no exception across the boundary (allocation failures become
// KEYFERRY_OUT_OF_MEMORY).

#include "keyferry.h"

#include <clock/BlockClockFile.h>
#include <sender/MappedTableFile.h>
#include <sender/Scheduler.h>
#include <sender/SenderTable.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

struct keyferry_table
{
    keyferry::SenderTable table;
    std::string path;
    keyferry::BlockClockFile clocks; // opened on first use
};

struct keyferry_link
{
    keyferry_table* table;
    keyferry::ReceiverLink link;
};

struct keyferry_scheduler
{
    keyferry::BlockClockFile clocks;
    std::unique_ptr<keyferry::Scheduler> scheduler;
};

namespace
{
// keyferry_describe hands the sender's results over by number.
static_assert (KEYFERRY_NO_RECEIVERS == static_cast<int> (keyferry::SendResult::noReceivers));
static_assert (KEYFERRY_NOT_ONE_MESSAGE == static_cast<int> (keyferry::SendResult::notOneMessage));
static_assert (KEYFERRY_TRANSPORT_STOPPED == static_cast<int> (keyferry::SendResult::transportStopped));

keyferry_result toC (keyferry::SendResult result) noexcept
{
    switch (result)
    {
        case keyferry::SendResult::ok: return KEYFERRY_OK;
        case keyferry::SendResult::noReceivers: return KEYFERRY_NO_RECEIVERS;
        case keyferry::SendResult::tableWrongSize: return KEYFERRY_TABLE_WRONG_SIZE;
        case keyferry::SendResult::tableUnavailable: return KEYFERRY_TABLE_UNAVAILABLE;
        case keyferry::SendResult::slotOutOfRange: return KEYFERRY_SLOT_OUT_OF_RANGE;
        case keyferry::SendResult::slotNotHeld: return KEYFERRY_SLOT_NOT_HELD;
        case keyferry::SendResult::receiverChanged: return KEYFERRY_RECEIVER_CHANGED;
        case keyferry::SendResult::emptyMessage: return KEYFERRY_EMPTY_MESSAGE;
        case keyferry::SendResult::messageTooLarge: return KEYFERRY_MESSAGE_TOO_LARGE;
        case keyferry::SendResult::notOneMessage: return KEYFERRY_NOT_ONE_MESSAGE;
        case keyferry::SendResult::ringFull: return KEYFERRY_RING_FULL;
        case keyferry::SendResult::noTransport: return KEYFERRY_NO_TRANSPORT;
        case keyferry::SendResult::transportStopped: return KEYFERRY_TRANSPORT_STOPPED;
    }
    return KEYFERRY_INVALID_ARGUMENT;
}

// Runs 'body', turning an allocation failure into a result.
template <typename Body>
keyferry_result guarded (Body&& body) noexcept
{
    try
    {
        return body();
    }
    catch (const std::bad_alloc&)
    {
        return KEYFERRY_OUT_OF_MEMORY;
    }
    catch (...)
    {
        return KEYFERRY_INVALID_ARGUMENT;
    }
}

keyferry_result copyText (const std::string& text, char* out, size_t size) noexcept
{
    if (out == nullptr || size == 0)
        return KEYFERRY_INVALID_ARGUMENT;
    const auto length = std::min (text.size(), size - 1);
    std::memcpy (out, text.data(), length);
    out[length] = 0;
    return KEYFERRY_OK;
}

bool validSlot (const keyferry_table* table, int slot) noexcept
{
    return table != nullptr && table->table.isOpen() && slot >= 0 && slot < KEYFERRY_NUM_SLOTS;
}
} // namespace

extern "C" {

const char* keyferry_describe (keyferry_result result)
{
    switch (result)
    {
        case KEYFERRY_INVALID_ARGUMENT: return "invalid argument: a null handle or pointer";
        case KEYFERRY_OUT_OF_MEMORY: return "out of memory";
        case KEYFERRY_NO_CLOCK: return "the receiver publishes no clock";
        case KEYFERRY_OK: case KEYFERRY_NO_RECEIVERS: case KEYFERRY_TABLE_WRONG_SIZE: case KEYFERRY_TABLE_UNAVAILABLE:
        case KEYFERRY_SLOT_OUT_OF_RANGE: case KEYFERRY_SLOT_NOT_HELD: case KEYFERRY_RECEIVER_CHANGED: case KEYFERRY_EMPTY_MESSAGE:
        case KEYFERRY_MESSAGE_TOO_LARGE: case KEYFERRY_NOT_ONE_MESSAGE: case KEYFERRY_RING_FULL: case KEYFERRY_NO_TRANSPORT:
        case KEYFERRY_TRANSPORT_STOPPED:
            return keyferry::describe (static_cast<keyferry::SendResult> (result));
    }
    return "unknown result";
}

const char* keyferry_version (void) { return "1.0.0"; }
int keyferry_version_number (void) { return KEYFERRY_VERSION_NUMBER; }

keyferry_result keyferry_open (const char* path, keyferry_table** table, char* reason, size_t reason_size)
{
    if (table == nullptr)
        return KEYFERRY_INVALID_ARGUMENT;
    *table = nullptr;

    return guarded ([&]
    {
        auto opened = std::make_unique<keyferry_table>();
        opened->path = path != nullptr ? std::string (path) : keyferry::MappedTableFile::defaultPath();
        const auto result = toC (opened->table.open (opened->path));

        if (result != KEYFERRY_OK)
        {
            if (reason != nullptr && reason_size > 0)
                copyText (opened->table.openError(), reason, reason_size);
            return result;
        }

        *table = opened.release();
        return KEYFERRY_OK;
    });
}

void keyferry_close (keyferry_table* table)
{
    delete table;
}

int keyferry_slot_held (const keyferry_table* table, int slot)
{
    return validSlot (table, slot) && table->table.slot (slot).held ? 1 : 0;
}

keyferry_result keyferry_slot_id (const keyferry_table* table, int slot, char* id, size_t size)
{
    if (! validSlot (table, slot))
        return table == nullptr ? KEYFERRY_INVALID_ARGUMENT : KEYFERRY_SLOT_OUT_OF_RANGE;
    return guarded ([&] { return copyText (table->table.slot (slot).id, id, size); });
}

keyferry_result keyferry_slot_name (const keyferry_table* table, int slot, char* name, size_t size)
{
    if (! validSlot (table, slot))
        return table == nullptr ? KEYFERRY_INVALID_ARGUMENT : KEYFERRY_SLOT_OUT_OF_RANGE;
    return guarded ([&] { return copyText (table->table.slot (slot).name, name, size); });
}

uint32_t keyferry_slot_unread_bytes (const keyferry_table* table, int slot)
{
    return validSlot (table, slot) ? table->table.slot (slot).unreadBytes : 0;
}

keyferry_result keyferry_link_open (keyferry_table* table, int slot, keyferry_link** link)
{
    if (table == nullptr || link == nullptr)
        return KEYFERRY_INVALID_ARGUMENT;
    *link = nullptr;

    return guarded ([&]
    {
        keyferry::SendResult result {};
        auto linked = table->table.link (slot, result);
        if (! linked)
            return toC (result);
        *link = new keyferry_link { table, std::move (*linked) };
        return KEYFERRY_OK;
    });
}

void keyferry_link_free (keyferry_link* link)
{
    delete link;
}

keyferry_result keyferry_link_state (const keyferry_link* link)
{
    return link == nullptr ? KEYFERRY_INVALID_ARGUMENT : toC (link->link.claimState());
}

int keyferry_link_slot (const keyferry_link* link)
{
    return link == nullptr ? -1 : link->link.slotIndex();
}

keyferry_result keyferry_send (keyferry_link* link, int32_t sample_position, const uint8_t* data, size_t size)
{
    if (link == nullptr)
        return KEYFERRY_INVALID_ARGUMENT;
    return toC (link->link.send ({ sample_position, data, size }));
}

keyferry_result keyferry_send_batch (keyferry_link* link, const keyferry_message* messages, size_t count, size_t* accepted)
{
    if (accepted != nullptr)
        *accepted = 0;
    if (link == nullptr || (messages == nullptr && count > 0))
        return KEYFERRY_INVALID_ARGUMENT;

    return guarded ([&]
    {
        std::unique_ptr<keyferry::OutgoingMessage[]> outgoing (new keyferry::OutgoingMessage[count > 0 ? count : 1]);
        for (size_t i = 0; i < count; ++i)
            outgoing[i] = { messages[i].sample_position, messages[i].data, messages[i].size };

        std::size_t sent = 0;
        const auto result = link->link.send (outgoing.get(), count, sent);
        if (accepted != nullptr)
            *accepted = sent;
        return toC (result);
    });
}

keyferry_result keyferry_request_reset (keyferry_link* link)
{
    return link == nullptr ? KEYFERRY_INVALID_ARGUMENT : toC (link->link.requestReset());
}

uint32_t keyferry_free_bytes (const keyferry_link* link)
{
    return link == nullptr ? 0 : link->link.freeBytes();
}

keyferry_result keyferry_link_clock (keyferry_link* link, keyferry_clock* clock)
{
    if (link == nullptr || clock == nullptr || clock->struct_size < sizeof (std::uint32_t) * 2)
        return KEYFERRY_INVALID_ARGUMENT;

    if (const auto state = link->link.claimState(); state != keyferry::SendResult::ok)
        return toC (state);

    return guarded ([&]
    {
        auto& clocks = link->table->clocks;
        if (! clocks.isOpen())
            clocks.open (keyferry::BlockClockFile::pathNextTo (link->table->path), false);

        keyferry::BlockClock read;
        const auto slot = link->link.slotIndex();
        if (! clocks.isOpen() || ! keyferry::read (clocks.shared()->clocks[slot], read) || ! read.hasBlock())
            return KEYFERRY_NO_CLOCK;

        // Only this claim's clock: compare the identifier the record carries with the link's.
        char id[keyferry::IdFieldSize] {};
        std::memcpy (id, link->link.receiverId().data(), std::min (link->link.receiverId().size(), sizeof (id) - 1));
        std::uint64_t claim[keyferry::ClaimIdWords];
        keyferry::claimIdWords (id, claim);
        if (! std::equal (std::begin (claim), std::end (claim), std::begin (read.claimId)))
            return KEYFERRY_NO_CLOCK;

        keyferry_clock full {};
        full.struct_size = static_cast<uint32_t> (sizeof (full));
        full.flags = read.flags;
        full.block_start_nanos = read.blockStartNanos;
        full.sample_count = read.sampleCount;
        full.block_length = read.blockLength;
        full.time_signature = read.timeSignature;
        full.sample_rate = read.sampleRate;
        full.tempo = read.tempo;
        full.ppq_position = read.ppqPosition;
        full.host_sample_position = read.hostSamplePosition;
        full.late_messages = read.lateMessages;

        // As much as the caller's version of the struct holds; it keeps the size it gave.
        const auto size = std::min<std::size_t> (clock->struct_size, sizeof (full));
        const auto callerSize = clock->struct_size;
        std::memcpy (clock, &full, size);
        clock->struct_size = callerSize;
        return KEYFERRY_OK;
    });
}

keyferry_result keyferry_scheduler_new (keyferry_link* link, double latency_seconds, keyferry_scheduler** scheduler)
{
    if (link == nullptr || scheduler == nullptr)
        return KEYFERRY_INVALID_ARGUMENT;
    *scheduler = nullptr;

    return guarded ([&]
    {
        auto made = std::make_unique<keyferry_scheduler>();
        made->clocks.open (keyferry::BlockClockFile::pathNextTo (link->table->path), false);
        made->scheduler = std::make_unique<keyferry::Scheduler> (link->link, made->clocks, latency_seconds);
        *scheduler = made.release();
        return KEYFERRY_OK;
    });
}

void keyferry_scheduler_free (keyferry_scheduler* scheduler)
{
    delete scheduler;
}

keyferry_result keyferry_scheduler_add (keyferry_scheduler* scheduler, double time, const uint8_t* data, size_t size)
{
    if (scheduler == nullptr)
        return KEYFERRY_INVALID_ARGUMENT;
    return guarded ([&] { return toC (scheduler->scheduler->add (time, data, size)); });
}

keyferry_result keyferry_scheduler_start (keyferry_scheduler* scheduler, double patience_seconds)
{
    return scheduler == nullptr ? KEYFERRY_INVALID_ARGUMENT : toC (scheduler->scheduler->start (patience_seconds));
}

keyferry_result keyferry_scheduler_start_following (keyferry_scheduler* scheduler, double patience_seconds)
{
    return scheduler == nullptr ? KEYFERRY_INVALID_ARGUMENT : toC (scheduler->scheduler->startFollowing (patience_seconds));
}

keyferry_mode keyferry_scheduler_mode (const keyferry_scheduler* scheduler)
{
    if (scheduler == nullptr)
        return KEYFERRY_MODE_IDLE;
    switch (scheduler->scheduler->mode())
    {
        case keyferry::Scheduler::Mode::timed: return KEYFERRY_MODE_TIMED;
        case keyferry::Scheduler::Mode::asDue: return KEYFERRY_MODE_AS_DUE;
        case keyferry::Scheduler::Mode::following: return KEYFERRY_MODE_FOLLOWING;
        case keyferry::Scheduler::Mode::idle: break;
    }
    return KEYFERRY_MODE_IDLE;
}

keyferry_result keyferry_scheduler_pump (keyferry_scheduler* scheduler)
{
    return scheduler == nullptr ? KEYFERRY_INVALID_ARGUMENT : guarded ([&] { return toC (scheduler->scheduler->pump()); });
}

double keyferry_scheduler_seconds_until_next_write (const keyferry_scheduler* scheduler)
{
    return scheduler == nullptr ? 0.0 : scheduler->scheduler->secondsUntilNextWrite();
}

int keyferry_scheduler_finished (const keyferry_scheduler* scheduler)
{
    return scheduler == nullptr || scheduler->scheduler->finished() ? 1 : 0;
}

uint64_t keyferry_scheduler_late_events (const keyferry_scheduler* scheduler)
{
    return scheduler == nullptr ? 0 : scheduler->scheduler->lateEvents();
}

} // extern "C"
