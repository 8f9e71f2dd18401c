// Claiming and releasing slots, and taking reset requests.

#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <table/ReceiverTable.h>

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>

namespace
{
using keyferry::NumSlots;

class ReceiverTableClaim : public ::testing::Test
{
protected:
    TemporaryHome home;
    ReceiverTable table;
    TableFileView view { home.getTableFile() };

    std::uint32_t changeCounter() const { return view.table().changeCounter.load(); }
    std::uint32_t activeCount() const { return view.table().activeCount.load(); }
    std::string idOf (int slot) const { return std::string (view.slot (slot).id); }
};
} // namespace

TEST_F (ReceiverTableClaim, LowestFreeSlotWins)
{
    ReceiverTable other;

    EXPECT_EQ (table.RegisterReceiver ("Receiver"), 0);
    EXPECT_EQ (other.RegisterReceiver ("Receiver"), 1);

    table.UnregisterReceiver (0);
    EXPECT_EQ (other.RegisterReceiver ("Receiver"), 0);
    EXPECT_EQ (table.RegisterReceiver ("Receiver"), 2);
}

TEST_F (ReceiverTableClaim, TenthClaimFailsAndTouchesNothing)
{
    for (int expected = 0; expected < NumSlots; ++expected)
        ASSERT_EQ (table.RegisterReceiver ("Receiver"), expected);

    const auto before = juce::MemoryBlock (&view.table(), keyferry::TableFileSize);
    EXPECT_EQ (table.RegisterReceiver ("Receiver"), -1);
    EXPECT_EQ (juce::MemoryBlock (&view.table(), keyferry::TableFileSize), before);
    EXPECT_EQ (activeCount(), 9u);
    EXPECT_EQ (changeCounter(), 9u);
}

TEST_F (ReceiverTableClaim, CountersFollowClaimsAndReleasesOfHeldSlotsOnly)
{
    const auto slot = table.RegisterReceiver ("Receiver");
    EXPECT_EQ (changeCounter(), 1u);
    EXPECT_EQ (activeCount(), 1u);

    table.UnregisterReceiver (slot);
    EXPECT_EQ (changeCounter(), 2u);
    EXPECT_EQ (activeCount(), 0u);
    EXPECT_EQ (view.slot (slot).active.load(), 0);

    table.UnregisterReceiver (slot);
    EXPECT_EQ (changeCounter(), 2u);
    EXPECT_EQ (activeCount(), 0u);
}

TEST_F (ReceiverTableClaim, CounterWrapsAroundModulo32Bits)
{
    view.table().changeCounter = 0xffffffffu;
    table.RegisterReceiver ("Receiver");
    EXPECT_EQ (changeCounter(), 0u);
}

TEST_F (ReceiverTableClaim, EachClaimWritesAFreshVersion4Identifier)
{
    auto& slot = view.slot (0);
    std::memset (slot.id, 'x', sizeof (slot.id));

    const auto index = table.RegisterReceiver ("Receiver");
    const auto first = idOf (index);

    EXPECT_TRUE (std::regex_match (first, std::regex ("[0-9a-f]{12}4[0-9a-f]{3}[89ab][0-9a-f]{15}"))) << first;
    for (std::size_t i = 32; i < 39; ++i)
        EXPECT_EQ (slot.id[i], 0) << "byte " << i;
    EXPECT_EQ (slot.id[39], 'x') << "byte 39 is never written";

    table.UnregisterReceiver (index);
    ASSERT_EQ (table.RegisterReceiver ("Receiver"), index);
    EXPECT_NE (idOf (index), first);
}

TEST_F (ReceiverTableClaim, NameIsCutAfter31Bytes)
{
    auto& slot = view.slot (0);
    std::memset (slot.name, 'x', sizeof (slot.name));
    const juce::String fortyBytes ("0123456789abcdefghijklmnopqrstuvwxyzABCD");

    table.RegisterReceiver (fortyBytes);

    EXPECT_EQ (std::string (slot.name, 31), fortyBytes.substring (0, 31).toStdString());
    EXPECT_EQ (slot.name[31], 'x');

    table.UnregisterReceiver (0);
    table.RegisterReceiver ("Receiver");
    EXPECT_STREQ (std::string (slot.name, 31).c_str(), "Receiver");
    for (std::size_t i = 8; i < 31; ++i)
        EXPECT_EQ (slot.name[i], 0) << "byte " << i;
}

TEST_F (ReceiverTableClaim, MultiByteNameIsCutMidCharacter)
{
    auto& slot = view.slot (0);
    // 15 two-byte characters and then one more: byte 31 would split it.
    const auto name = juce::String::repeatedString (juce::CharPointer_UTF8 ("\xc3\xa9"), 16);

    table.RegisterReceiver (name);

    EXPECT_EQ (std::memcmp (slot.name, name.toRawUTF8(), 31), 0);
    EXPECT_EQ (static_cast<std::uint8_t> (slot.name[30]), 0xc3);
}

TEST_F (ReceiverTableClaim, ClaimZeroesPositionsButKeepsRingAndResetRequest)
{
    auto& slot = view.slot (0);
    slot.writePos = 100;
    slot.readPos = 50;
    slot.resetRequested = 1;
    slot.ring[7] = 0x5a;

    table.RegisterReceiver ("Receiver");

    EXPECT_EQ (slot.writePos.load(), 0u);
    EXPECT_EQ (slot.readPos.load(), 0u);
    EXPECT_EQ (slot.resetRequested.load(), 1);
    EXPECT_EQ (slot.ring[7], 0x5a);
}

TEST_F (ReceiverTableClaim, ReleaseKeepsEverythingButTheActiveFlag)
{
    const auto index = table.RegisterReceiver ("Receiver");
    auto& slot = view.slot (index);
    slot.writePos = 30;
    slot.readPos = 20;
    const auto id = idOf (index);

    table.UnregisterReceiver (index);

    EXPECT_EQ (idOf (index), id);
    EXPECT_STREQ (slot.name, "Receiver");
    EXPECT_EQ (slot.writePos.load(), 30u);
    EXPECT_EQ (slot.readPos.load(), 20u);
}

TEST_F (ReceiverTableClaim, ResetRequestIsTakenOnceAndAnyNonzeroByteCounts)
{
    auto& slot = view.slot (3);

    EXPECT_FALSE (table.TakeResetRequest (3));
    slot.resetRequested = 0x80;
    EXPECT_TRUE (table.TakeResetRequest (3));
    EXPECT_EQ (slot.resetRequested.load(), 0);
    EXPECT_FALSE (table.TakeResetRequest (3));
}

TEST_F (ReceiverTableClaim, IndicesOutsideTheTableAreRefused)
{
    table.RegisterReceiver ("Receiver");

    for (const auto index : { -1, 9, std::numeric_limits<int>::min(), std::numeric_limits<int>::max() })
    {
        juce::MidiBuffer buffer;
        EXPECT_FALSE (table.TakeResetRequest (index));
        EXPECT_FALSE (table.ReadMidi (index, buffer));
        table.UnregisterReceiver (index);
        EXPECT_EQ (activeCount(), 1u) << index;
        EXPECT_EQ (changeCounter(), 1u) << index;
    }
}
