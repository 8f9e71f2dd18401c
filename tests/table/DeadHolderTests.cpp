// A holder that died without releasing its slots: the next claim frees them, exactly once, and
// never a slot whose holder may still run.

#include "../support/ContenderProcess.h"
#include "../support/HolderRecordWriting.h"
#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <holders/HolderFile.h>
#include <table/ReceiverTable.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <set>

namespace
{
using keyferry::HolderFile;
using keyferry::Liveness;
using keyferry::NumSlots;

std::string holderPath (const TemporaryHome& home)
{
    return home.getTableFile().getSiblingFile ("holders.dat").getFullPathName().toStdString();
}

// A contender process holding 'count' slots; returns the slots it got. 'ending' is what it does
// when its stdin closes (nothing, or "release").
std::vector<int> startHolder (Contender& contender, std::vector<const char*> command, int count, const char* ending = nullptr)
{
    const auto countText = std::to_string (count);
    command.push_back (countText.c_str());
    if (ending != nullptr)
        command.push_back (ending);
    contender = spawnContender (command);
    std::vector<int> slots;
    if (contender.pid <= 0 || ::write (contender.toChild, "g", 1) != 1)
        return slots;

    for (int i = 0; i < count; ++i)
    {
        int slot = -100;
        if (std::fscanf (contender.fromChild, "%d", &slot) != 1)
            break;
        slots.push_back (slot);
    }
    return slots;
}

void kill (Contender& contender, bool collect = true)
{
    ::kill (contender.pid, SIGKILL);
    if (collect)
        ::waitpid (contender.pid, nullptr, 0);
}

void finish (Contender& contender)
{
    ::close (contender.toChild);
    std::fclose (contender.fromChild);
    ::waitpid (contender.pid, nullptr, 0);
}

// Writes the record of slot 'index' by hand: the identity of a process that may not exist.
void writeRecord (const TemporaryHome& home, int index, const keyferry::ProcessIdentity& identity, const char* claimId)
{
    juce::MemoryMappedFile file (juce::File (holderPath (home)), juce::MemoryMappedFile::readWrite, false);
    ASSERT_NE (file.getData(), nullptr);
    writeHolderRecord (static_cast<keyferry::SharedHolderTable*> (file.getData())->records[index], identity, claimId);
}

class DeadHolders : public ::testing::Test
{
protected:
    const TableFileView& view()
    {
        if (tableView == nullptr)
            tableView = std::make_unique<TableFileView> (home.getTableFile());
        return *tableView;
    }

    std::uint32_t activeCount() { return view().table().activeCount.load(); }
    std::uint32_t changeCounter() { return view().table().changeCounter.load(); }

    TemporaryHome home;
    std::unique_ptr<TableFileView> tableView;
};

// A slot held under a claim whose holder record says what the case says.
struct RecordCase
{
    const char* name;
    void (*alter) (keyferry::ProcessIdentity& identity, std::string& claimId);
    bool freed;
};

void PrintTo (const RecordCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class HolderRecords : public DeadHolders, public ::testing::WithParamInterface<RecordCase>
{
};

// How the previous claim of a slot ended.
struct EndedClaim
{
    const char* name;
    bool released; // by its holder, which then quit; otherwise the holder was killed and swept
};

void PrintTo (const EndedClaim& testCase, std::ostream* stream) { *stream << testCase.name; }

class EndedClaims : public DeadHolders, public ::testing::WithParamInterface<EndedClaim>
{
};
} // namespace

TEST_P (HolderRecords, OnlyAProvablyGoneHolderIsFreed)
{
    ReceiverTable live;
    ASSERT_EQ (live.RegisterReceiver ("Receiver"), 0);
    ASSERT_EQ (live.RegisterReceiver ("Receiver"), 1);
    live.UnregisterReceiver (1);

    // Slot 1 held again, under a claim of the case's process.
    auto& slot = view().slot (1);
    std::string claimId = "00000000000040008000000000000001";
    auto identity = keyferry::currentProcess();
    GetParam().alter (identity, claimId);
    slot.active = 1;
    std::strcpy (slot.id, "00000000000040008000000000000001");
    view().table().activeCount += 1;
    writeRecord (home, 1, identity, claimId.c_str());
    const auto changesBefore = changeCounter();

    ReceiverTable next;
    const auto claimed = next.RegisterReceiver ("Receiver");

    EXPECT_EQ (claimed, GetParam().freed ? 1 : 2);
    EXPECT_EQ (activeCount(), GetParam().freed ? 2u : 3u);
    EXPECT_EQ (changeCounter(), changesBefore + (GetParam().freed ? 2u : 1u));
}

INSTANTIATE_TEST_SUITE_P (
    Records,
    HolderRecords,
    ::testing::Values (
        RecordCase { "ThisVeryProcessIsAlive", [] (keyferry::ProcessIdentity&, std::string&) {}, false },
        // Our process id, once held by a process that started earlier: that one is gone.
        RecordCase { "ReusedProcessIdIsGone", [] (keyferry::ProcessIdentity& id, std::string&) { id.startTime -= 1; }, true },
        RecordCase { "NoSuchProcessIsGone", [] (keyferry::ProcessIdentity& id, std::string&) { id.processId = 0x7ffffff0; }, true },
        RecordCase { "OtherPidNamespaceIsUnknown",
                     [] (keyferry::ProcessIdentity& id, std::string&) { id.processId = 0x7ffffff0, id.pidNamespace += 1; }, false },
        RecordCase { "OtherBootIsUnknown",
                     [] (keyferry::ProcessIdentity& id, std::string&) { id.processId = 0x7ffffff0, id.bootId[0] ^= 1; }, false },
        RecordCase { "RecordOfAnEarlierClaimIsUnknown",
                     [] (keyferry::ProcessIdentity& id, std::string& claim) { id.processId = 0x7ffffff0, claim[31] = '2'; }, false },
        RecordCase { "NoRecordIsUnknown",
                     [] (keyferry::ProcessIdentity& id, std::string&) { id = {}; }, false }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });

// A claimer that has just won a slot shows it held under the previous claim's identifier until it
// has written its own. The previous holder is gone, but its record must not speak for the new
// claim, or a sweep in another process would free a live claim and count that slot's release twice.
TEST_P (EndedClaims, ANewClaimIsNotJudgedByThePreviousHolder)
{
    HolderFile sweeper;
    Contender host;
    ASSERT_EQ (startHolder (host, { KEYFERRY_CLAIM_CONTENDER }, 1, GetParam().released ? "release" : nullptr),
               std::vector<int> { 0 });
    ASSERT_TRUE (sweeper.open (holderPath (home), false));

    if (GetParam().released)
    {
        finish (host);
    }
    else
    {
        kill (host);
        ASSERT_EQ (sweeper.freeDeadHolders (view().table()), 1);
    }
    ASSERT_EQ (view().slot (0).active.load(), 0);
    ASSERT_EQ (activeCount(), 0u);

    // The claimer's first store: nothing else written yet.
    view().slot (0).active = 1;
    const auto changesBefore = changeCounter();

    EXPECT_EQ (sweeper.holderOf (view().table(), 0).liveness, Liveness::unknown);
    EXPECT_EQ (sweeper.freeDeadHolders (view().table()), 0);
    EXPECT_NE (view().slot (0).active.load(), 0);
    EXPECT_EQ (activeCount(), 0u);
    EXPECT_EQ (changeCounter(), changesBefore);
}

INSTANTIATE_TEST_SUITE_P (Endings,
                          EndedClaims,
                          ::testing::Values (EndedClaim { "ReleasedByAHostThatQuit", true },
                                             EndedClaim { "FreedAfterItsHostWasKilled", false }),
                          [] (const auto& testCase) { return std::string (testCase.param.name); });

// Three hosts with two slots each; two are killed (one left uncollected by its parent, as a
// zombie), then four receivers in new processes claim at the same moment.
TEST_F (DeadHolders, KilledHostsSlotsAreFreedOnceAndLiveOnesKept)
{
    Contender hosts[3];
    std::vector<int> slotsOf[3];
    for (int i = 0; i < 3; ++i)
    {
        slotsOf[i] = startHolder (hosts[i], { KEYFERRY_CLAIM_CONTENDER }, 2);
        ASSERT_EQ (slotsOf[i].size(), 2u);
    }
    ASSERT_EQ (activeCount(), 6u);

    kill (hosts[0]);
    kill (hosts[2], false);
    ASSERT_TRUE (waitUntilZombie (hosts[2].pid));

    Contender claimers[4];
    for (auto& claimer : claimers)
        claimer = spawnContender (std::vector<const char*> { KEYFERRY_CLAIM_CONTENDER });
    for (auto& claimer : claimers)
        ASSERT_EQ (::write (claimer.toChild, "g", 1), 1);

    std::set<int> claimed;
    for (auto& claimer : claimers)
    {
        int slot = -100;
        ASSERT_EQ (std::fscanf (claimer.fromChild, "%d", &slot), 1);
        claimed.insert (slot);
    }

    // The four lowest free slots after the dead ones were freed: the dead ones first.
    const std::set<int> dead { slotsOf[0][0], slotsOf[0][1], slotsOf[2][0], slotsOf[2][1] };
    EXPECT_EQ (claimed, dead);
    EXPECT_EQ (activeCount(), 6u) << "two live, four new";
    EXPECT_EQ (changeCounter(), 6u + 4u + 4u) << "six claims, four frees, four claims";
    for (const auto slot : slotsOf[1])
        EXPECT_NE (view().slot (slot).active.load(), 0);

    for (auto& claimer : claimers)
        finish (claimer);
    finish (hosts[1]);
    ::waitpid (hosts[2].pid, nullptr, 0);
}

TEST_F (DeadHolders, HolderInAnotherPidNamespaceIsNeverFreed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a PID namespace";

    Contender contained;
    const auto slots = startHolder (contained, { "unshare", "--pid", "--fork", KEYFERRY_CLAIM_CONTENDER }, 1);
    if (slots.size() != 1)
        GTEST_SKIP() << "unshare --pid is not available here";
    ASSERT_EQ (slots[0], 0);

    HolderFile holders;
    ASSERT_TRUE (holders.open (holderPath (home), false));
    EXPECT_EQ (holders.holderOf (view().table(), 0).liveness, Liveness::unknown);

    kill (contained);
    ReceiverTable next;
    EXPECT_EQ (next.RegisterReceiver ("Receiver"), 1);
    EXPECT_NE (view().slot (0).active.load(), 0) << "whatever became of it, it cannot be judged from here";
}

TEST_F (DeadHolders, FreeingOnRequestNeedsTheSameProof)
{
    Contender host;
    const auto slots = startHolder (host, { KEYFERRY_CLAIM_CONTENDER }, 2);
    ASSERT_EQ (slots, (std::vector<int> { 0, 1 }));

    HolderFile holders;
    ASSERT_TRUE (holders.open (holderPath (home), false));
    auto& table = view().table();

    EXPECT_EQ (holders.holderOf (table, 0).processId, static_cast<std::uint64_t> (host.pid));
    EXPECT_EQ (holders.freeIfGone (table, 0), HolderFile::FreeOutcome::alive);
    EXPECT_EQ (holders.freeIfGone (table, 5), HolderFile::FreeOutcome::notHeld);

    kill (host);
    EXPECT_EQ (holders.holderOf (table, 1).liveness, Liveness::gone);
    EXPECT_EQ (holders.freeIfGone (table, 1), HolderFile::FreeOutcome::freed);
    EXPECT_EQ (holders.freeIfGone (table, 1), HolderFile::FreeOutcome::notHeld);
    EXPECT_EQ (activeCount(), 1u);
}
