// Several processes opening and claiming in the same file at the same moment.

#include "../support/ContenderProcess.h"
#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sys/wait.h>
#include <unistd.h>


// Twelve processes start together on a missing file: all of them must end up in one file, and
// every slot goes to exactly one of them.
TEST (MultiProcessClaim, EverySlotGoesToExactlyOneProcess)
{
    const TemporaryHome home;
    constexpr int numContenders = 12;

    std::vector<Contender> contenders;
    for (int i = 0; i < numContenders; ++i)
    {
        contenders.push_back (spawnContender (KEYFERRY_CLAIM_CONTENDER));
        ASSERT_GT (contenders.back().pid, 0);
    }

    // Every contender is blocked on its stdin; release them as close together as we can.
    for (auto& contender : contenders)
        ASSERT_EQ (::write (contender.toChild, "g", 1), 1);

    std::multiset<int> claimed;
    for (auto& contender : contenders)
    {
        int slot = -100;
        ASSERT_EQ (std::fscanf (contender.fromChild, "%d", &slot), 1);
        claimed.insert (slot);
    }

    // All of them still hold their slots here.
    const TableFileView view (home.getTableFile());
    ASSERT_TRUE (view.isValid());
    EXPECT_EQ (view.table().activeCount.load(), 9u);
    EXPECT_EQ (view.table().changeCounter.load(), 9u);

    std::set<std::string> ids;
    for (int slot = 0; slot < keyferry::NumSlots; ++slot)
    {
        EXPECT_EQ (claimed.count (slot), 1u) << "slot " << slot;
        EXPECT_NE (view.slot (slot).active.load(), 0);
        ids.insert (view.slot (slot).id);
    }
    EXPECT_EQ (claimed.count (-1), static_cast<std::size_t> (numContenders - keyferry::NumSlots));
    EXPECT_EQ (ids.size(), static_cast<std::size_t> (keyferry::NumSlots));

    for (auto& contender : contenders)
    {
        ::close (contender.toChild);
        std::fclose (contender.fromChild);
        int status = 0;
        ::waitpid (contender.pid, &status, 0);
        EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0);
    }
}
