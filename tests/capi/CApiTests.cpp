// The C interface against a receiver's table in this process: results for every failure, sends
// that land in the ring, and the scheduler through its handle.

#include "../support/TemporaryHome.h"

#include <keyferry.h>

#include <clock/BlockClockFile.h>
#include <table/ReceiverTable.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{
class CApi : public ::testing::Test
{
protected:
    void TearDown() override
    {
        keyferry_scheduler_free (scheduler);
        keyferry_link_free (link);
        keyferry_close (table);
    }

    void openAndLink()
    {
        ASSERT_EQ (receiver.RegisterReceiver ("Receiver"), 0);
        ASSERT_EQ (keyferry_open (nullptr, &table, nullptr, 0), KEYFERRY_OK);
        ASSERT_EQ (keyferry_link_open (table, 0, &link), KEYFERRY_OK);
    }

    std::vector<std::vector<std::uint8_t>> drain()
    {
        juce::MidiBuffer buffer;
        receiver.ReadMidi (0, buffer);
        std::vector<std::vector<std::uint8_t>> events;
        for (const auto metadata : buffer)
            events.emplace_back (metadata.data, metadata.data + metadata.numBytes);
        return events;
    }

    TemporaryHome home;
    ReceiverTable receiver;
    keyferry_table* table = nullptr;
    keyferry_link* link = nullptr;
    keyferry_scheduler* scheduler = nullptr;
};

const std::uint8_t noteOn[] = { 0x90, 60, 100 };
const std::uint8_t noteOff[] = { 0x80, 60, 0 };
} // namespace

TEST (CApiWithoutATable, OpenSaysWhyAndLeavesNoHandle)
{
    const TemporaryHome home;
    keyferry_table* table = reinterpret_cast<keyferry_table*> (1);
    char reason[64] = "unchanged";

    EXPECT_EQ (keyferry_open ("/nonexistent/receivers.dat", &table, reason, sizeof (reason)), KEYFERRY_NO_RECEIVERS);
    EXPECT_EQ (table, nullptr);
    EXPECT_STREQ (reason, "No such file or directory");
    EXPECT_EQ (keyferry_open ("/tmp", &table, reason, sizeof (reason)), KEYFERRY_TABLE_UNAVAILABLE);
    EXPECT_EQ (keyferry_open (nullptr, nullptr, nullptr, 0), KEYFERRY_INVALID_ARGUMENT);
    EXPECT_STREQ (keyferry_describe (KEYFERRY_RING_FULL), "ring full");
    EXPECT_EQ (keyferry_version_number(), KEYFERRY_VERSION_NUMBER);
}

TEST_F (CApi, SlotsLinksAndSendsLandInTheRing)
{
    openAndLink();
    char id[64], name[64];
    ASSERT_EQ (keyferry_slot_id (table, 0, id, sizeof (id)), KEYFERRY_OK);
    ASSERT_EQ (keyferry_slot_name (table, 0, name, sizeof (name)), KEYFERRY_OK);
    EXPECT_EQ (std::strlen (id), 32u);
    EXPECT_STREQ (name, "Receiver");
    EXPECT_EQ (keyferry_slot_held (table, 0), 1);
    EXPECT_EQ (keyferry_slot_held (table, 1), 0);
    EXPECT_EQ (keyferry_slot_id (table, 9, id, sizeof (id)), KEYFERRY_SLOT_OUT_OF_RANGE);

    keyferry_link* other = nullptr;
    EXPECT_EQ (keyferry_link_open (table, 1, &other), KEYFERRY_SLOT_NOT_HELD);
    EXPECT_EQ (other, nullptr);

    EXPECT_EQ (keyferry_send (link, 0, noteOn, sizeof (noteOn)), KEYFERRY_OK);
    const keyferry_message batch[] = { { 1, noteOff, sizeof (noteOff) }, { 2, noteOn, 2 } };
    size_t accepted = 99;
    EXPECT_EQ (keyferry_send_batch (link, batch, 2, &accepted), KEYFERRY_NOT_ONE_MESSAGE);
    EXPECT_EQ (accepted, 1u);
    EXPECT_EQ (keyferry_slot_unread_bytes (table, 0), 18u);
    EXPECT_EQ (drain(), (std::vector<std::vector<std::uint8_t>> { { 0x90, 60, 100 }, { 0x80, 60, 0 } }));
    EXPECT_EQ (keyferry_free_bytes (link), 4095u);

    EXPECT_EQ (keyferry_request_reset (link), KEYFERRY_OK);
    EXPECT_TRUE (receiver.TakeResetRequest (0));

    receiver.UnregisterReceiver (0);
    receiver.RegisterReceiver ("Receiver");
    EXPECT_EQ (keyferry_link_state (link), KEYFERRY_RECEIVER_CHANGED);
    EXPECT_EQ (keyferry_send (link, 0, noteOn, sizeof (noteOn)), KEYFERRY_RECEIVER_CHANGED);
}

TEST_F (CApi, NullHandlesAreRefusedNotFollowed)
{
    EXPECT_EQ (keyferry_send (nullptr, 0, noteOn, 3), KEYFERRY_INVALID_ARGUMENT);
    EXPECT_EQ (keyferry_link_open (nullptr, 0, &link), KEYFERRY_INVALID_ARGUMENT);
    EXPECT_EQ (keyferry_scheduler_pump (nullptr), KEYFERRY_INVALID_ARGUMENT);
    EXPECT_EQ (keyferry_slot_held (nullptr, 0), 0);
    EXPECT_EQ (keyferry_scheduler_finished (nullptr), 1);

    openAndLink();
    EXPECT_EQ (keyferry_send (link, 0, nullptr, 3), KEYFERRY_EMPTY_MESSAGE);
    EXPECT_EQ (keyferry_send_batch (link, nullptr, 1, nullptr), KEYFERRY_INVALID_ARGUMENT);
}

// The receiver here publishes no clock (a table without a processor), so the scheduler says so
// and sends as events fall due.
TEST_F (CApi, SchedulerWithoutAClockSendsAsDue)
{
    openAndLink();
    ASSERT_EQ (keyferry_scheduler_new (link, 0.0, &scheduler), KEYFERRY_OK);
    ASSERT_EQ (keyferry_scheduler_add (scheduler, 0.0, noteOn, sizeof (noteOn)), KEYFERRY_OK);
    EXPECT_EQ (keyferry_scheduler_add (scheduler, 0.0, noteOn, 2), KEYFERRY_NOT_ONE_MESSAGE);
    ASSERT_EQ (keyferry_scheduler_start (scheduler, 0.0), KEYFERRY_OK);
    EXPECT_EQ (keyferry_scheduler_mode (scheduler), KEYFERRY_MODE_AS_DUE);

    EXPECT_EQ (keyferry_scheduler_pump (scheduler), KEYFERRY_OK);
    EXPECT_EQ (keyferry_scheduler_finished (scheduler), 1);
    EXPECT_EQ (drain(), (std::vector<std::vector<std::uint8_t>> { { 0x90, 60, 100 } }));
}

TEST_F (CApi, ClockIsTheClaimsOwnOrNone)
{
    openAndLink();
    keyferry_clock clock {};
    clock.struct_size = sizeof (clock);
    EXPECT_EQ (keyferry_link_clock (link, &clock), KEYFERRY_NO_CLOCK) << "no clock file yet";

    // A receiver's block clock for this claim, as its processor would publish it.
    keyferry::BlockClockFile clocks;
    ASSERT_TRUE (clocks.open (keyferry::BlockClockFile::pathNextTo (ReceiverTable::getTableFile().getFullPathName().toStdString()), true));
    char id[keyferry::IdFieldSize];
    ASSERT_TRUE (receiver.CopyClaimId (0, id));
    keyferry::BlockClock published;
    keyferry::claimIdWords (id, published.claimId);
    keyferry::publish (clocks.shared()->clocks[0], published);
    EXPECT_EQ (keyferry_link_clock (link, &clock), KEYFERRY_NO_CLOCK) << "claimed, no block yet";

    published.sampleCount = 9600;
    published.blockLength = 64;
    published.sampleRate = 48000.0;
    published.flags = keyferry::clockHasPlayHead;
    keyferry::publish (clocks.shared()->clocks[0], published);

    ASSERT_EQ (keyferry_link_clock (link, &clock), KEYFERRY_OK);
    EXPECT_EQ (clock.sample_count, 9600u);
    EXPECT_EQ (clock.block_length, 64u);
    EXPECT_EQ (clock.sample_rate, 48000.0);
    EXPECT_EQ (clock.flags, KEYFERRY_CLOCK_HAS_PLAY_HEAD);

    // An older caller's smaller struct gets what it has room for.
    struct { uint32_t struct_size, flags; uint64_t block_start_nanos, sample_count; } older {};
    older.struct_size = sizeof (older);
    ASSERT_EQ (keyferry_link_clock (link, reinterpret_cast<keyferry_clock*> (&older)), KEYFERRY_OK);
    EXPECT_EQ (older.sample_count, 9600u);
    EXPECT_EQ (older.struct_size, sizeof (older));

    // Once the receiver has let go, there is no clock of its to read.
    receiver.UnregisterReceiver (0);
    receiver.RegisterReceiver ("Receiver");
    EXPECT_EQ (keyferry_link_clock (link, &clock), KEYFERRY_RECEIVER_CHANGED);
}
