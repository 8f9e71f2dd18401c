// A link's send against a receiver that releases its slot, and another that claims it, at the
// exact points inside the send where that can happen: the old link's messages must not reach the
// new holder, except where the new holder has read them before the send could look.

#include "../support/TemporaryHome.h"

#include <sender/SenderTable.h>
#include <table/ReceiverTable.h>

#include <gtest/gtest.h>

#include <vector>

namespace
{
using keyferry::ReceiverLink;
using keyferry::SendResult;
using Stage = ReceiverLink::SendStage;

const std::uint8_t noteOn[] = { 0x90, 0x3c, 0x64 };
const std::uint8_t noteOff[] = { 0x80, 0x3c, 0x00 };

// What happens to the slot at one point of the send.
enum Action : unsigned
{
    nothing = 0,
    release = 1,            // the holder gives the slot back
    claim = 2,              // a receiver claims it (a new identifier, both positions 0)
    drain = 4,              // the holder reads its ring
    appendAsNewPeer = 8     // a peer linked to the new holder appends a note-off
};

struct RaceCase
{
    const char* name;
    bool earlierMessage;     // the ring is not fresh: one message sent and read before
    unsigned atClaimChecked;
    unsigned atPublished;
    SendResult expected;
    int delivered;
};

void PrintTo (const RaceCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class ReceiverLinkRace : public ::testing::TestWithParam<RaceCase>
{
protected:
    ReceiverLinkRace()
    {
        EXPECT_EQ (peers.open (home.getTableFile().getFullPathName().toStdString()), SendResult::ok);
    }

    static void interleave (Stage stage, void* context)
    {
        auto& self = *static_cast<ReceiverLinkRace*> (context);
        const auto& param = GetParam();
        self.act (stage == Stage::claimChecked ? param.atClaimChecked : param.atPublished);
    }

    // In this order: what the holder reads, then its release, then a claim, then a rival peer.
    void act (unsigned actions)
    {
        if ((actions & drain) != 0)
            readEvents();
        if ((actions & release) != 0)
            receiver.UnregisterReceiver (0);
        if ((actions & claim) != 0)
        {
            ASSERT_EQ (receiver.RegisterReceiver ("Receiver"), 0);
        }
        if ((actions & appendAsNewPeer) != 0)
        {
            SendResult result {};
            auto newPeer = peers.link (0, result);
            ASSERT_TRUE (newPeer.has_value());
            ASSERT_EQ (newPeer->send ({ 0, noteOff, sizeof (noteOff) }), SendResult::ok);
        }
    }

    int readEvents()
    {
        juce::MidiBuffer buffer;
        receiver.ReadMidi (0, buffer);
        delivered += buffer.getNumEvents();
        return buffer.getNumEvents();
    }

    TemporaryHome home;
    ReceiverTable receiver;
    int claimed = receiver.RegisterReceiver ("Receiver");
    keyferry::SenderTable peers;
    int delivered = 0;
};
} // namespace

TEST_P (ReceiverLinkRace, OldLinksMessagesDoNotReachTheNewHolder)
{
    const auto& param = GetParam();
    ASSERT_EQ (claimed, 0);

    SendResult result {};
    auto link = peers.link (0, result);
    ASSERT_TRUE (link.has_value());

    if (param.earlierMessage)
    {
        ASSERT_EQ (link->send ({ 0, noteOn, sizeof (noteOn) }), SendResult::ok);
        ASSERT_EQ (readEvents(), 1);
        delivered = 0;
    }

    link->setInterleaving (&ReceiverLinkRace::interleave, this);
    const keyferry::OutgoingMessage batch[] = { { 0, noteOn, sizeof (noteOn) }, { 1, noteOff, sizeof (noteOff) } };
    std::size_t accepted = 99;

    EXPECT_EQ (link->send (batch, 2, accepted), param.expected);
    EXPECT_EQ (accepted, param.expected == SendResult::ok ? 2u : 0u);

    // Whatever the new holder reads from here on, and the positions agree at the end.
    readEvents();
    EXPECT_EQ (delivered, param.delivered);
    const auto status = peers.slot (0);
    EXPECT_EQ (status.writePos, status.readPos);
}

INSTANTIATE_TEST_SUITE_P (
    Interleavings,
    ReceiverLinkRace,
    ::testing::Values (
        // The claim resets writePos to 0, the very value a fresh ring's publication expects.
        RaceCase { "ClaimBeforePublishOnAFreshRing", false, release | claim, nothing, SendResult::receiverChanged, 0 },
        RaceCase { "ClaimBeforePublishAfterEarlierMessages", true, release | claim, nothing, SendResult::receiverChanged, 0 },
        RaceCase { "ClaimAfterPublish", false, nothing, release | claim, SendResult::receiverChanged, 0 },
        RaceCase { "ReleaseWithoutAClaim", false, release, nothing, SendResult::slotNotHeld, 0 },
        // Too late to take back: the new holder read them, or a peer of its own wrote behind
        // them. The send still says the receiver changed, and the ring stays consistent.
        RaceCase { "NewHolderDrainedBeforeTheRecheck", false, release | claim, drain, SendResult::receiverChanged, 2 },
        RaceCase { "NewHoldersPeerAppendedBehind", false, release | claim, appendAsNewPeer, SendResult::receiverChanged, 3 },
        // Published over a writePos other than 0, the messages went to the link's own receiver,
        // whatever happens next: the send says so, so that a peer does not send them again to
        // the next holder (the soak with kills found that double delivery).
        RaceCase { "OwnReceiverReadThenReleased", true, nothing, drain | release, SendResult::ok, 2 },
        RaceCase { "OwnReceiverReadThenAnotherClaimed", true, nothing, drain | release | claim, SendResult::ok, 2 }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });
