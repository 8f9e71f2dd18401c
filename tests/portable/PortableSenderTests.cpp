// The sender and C libraries as built for another system (Windows, run under Wine): the table
// file mapped twice and shared, sends through both interfaces, the default path, and the small
// companion files. JUCE-free, so it builds wherever the libraries do.

#include <keyferry.h>

#include <clock/BlockClockFile.h>
#include <holders/HolderFile.h>
#include <sender/MappedTableFile.h>
#include <sender/SenderTable.h>

#include <gtest/gtest.h>

#ifdef _WIN32
 #ifndef NOMINMAX
  #define NOMINMAX
 #endif
 #include "../support/HolderRecordWriting.h"

 #include <companion/CompanionFile.h>
 #include <windows.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{
namespace fs = std::filesystem;

class Portable : public ::testing::Test
{
protected:
    Portable()
    {
        folder = fs::temp_directory_path() / ("keyferry-portable-" + std::to_string (::testing::UnitTest::GetInstance()->random_seed())
                                              + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories (folder);
        table = (folder / "receivers.dat").string();
    }

    ~Portable() override
    {
        std::error_code ignored;
        fs::remove_all (folder, ignored);
    }

    // A table as a receiver leaves it, with slot 0 held.
    void makeTable (std::size_t size = keyferry::TableFileSize)
    {
        std::ofstream (table, std::ios::binary) << std::string (size, '\0');
        if (size != keyferry::TableFileSize)
            return;
        ASSERT_EQ (receiverView.open (table), keyferry::SendResult::ok);
        auto& slot = receiverView.image()->slots[0];
        std::strcpy (slot.id, "0123456789abcdef4123456789abcdef");
        std::strcpy (slot.name, "Receiver");
        slot.active = 1;
    }

    fs::path folder;
    std::string table;
    keyferry::SenderTable receiverView; // a second mapping, standing in for the receiver
};
} // namespace

TEST_F (Portable, OpenTellsMissingFromWrongSize)
{
    keyferry::SenderTable peer;
    EXPECT_EQ (peer.open (table), keyferry::SendResult::noReceivers);
    makeTable (100);
    EXPECT_EQ (peer.open (table), keyferry::SendResult::tableWrongSize);
    EXPECT_EQ (peer.openError(), "100 bytes long");
}

TEST_F (Portable, TwoMappingsShareTheRingAndSendsLandInIt)
{
    makeTable();
    keyferry::SenderTable peer;
    ASSERT_EQ (peer.open (table), keyferry::SendResult::ok);
    keyferry::SendResult result {};
    auto link = peer.link (0, result);
    ASSERT_TRUE (link.has_value()) << keyferry::describe (result);

    const std::uint8_t noteOn[] = { 0x90, 60, 100 };
    ASSERT_EQ (link->send ({ 10, noteOn, sizeof (noteOn) }), keyferry::SendResult::ok);

    const auto& slot = receiverView.image()->slots[0];
    const std::vector<std::uint8_t> expected { 10, 0, 0, 0, 3, 0, 0x90, 60, 100 };
    EXPECT_EQ (std::vector<std::uint8_t> (slot.ring, slot.ring + 9), expected);
    EXPECT_EQ (slot.writePos.load(), 9u);

    const std::uint8_t twoEvents[] = { 0x90, 60, 100, 0x80, 60, 0 };
    EXPECT_EQ (link->send ({ 0, twoEvents, sizeof (twoEvents) }), keyferry::SendResult::notOneMessage);
}

TEST_F (Portable, CInterfaceSendsAndSaysWhy)
{
    keyferry_table* handle = nullptr;
    char reason[128] {};
    EXPECT_EQ (keyferry_open (table.c_str(), &handle, reason, sizeof (reason)), KEYFERRY_NO_RECEIVERS);
    EXPECT_NE (std::string (reason), "");

    makeTable();
    ASSERT_EQ (keyferry_open (table.c_str(), &handle, nullptr, 0), KEYFERRY_OK);
    keyferry_link* link = nullptr;
    ASSERT_EQ (keyferry_link_open (handle, 0, &link), KEYFERRY_OK);
    const std::uint8_t noteOn[] = { 0x90, 60, 100 };
    EXPECT_EQ (keyferry_send (link, 0, noteOn, sizeof (noteOn)), KEYFERRY_OK);
    EXPECT_EQ (keyferry_slot_unread_bytes (handle, 0), 9u);

    keyferry_scheduler* scheduler = nullptr;
    ASSERT_EQ (keyferry_scheduler_new (link, 0.0, &scheduler), KEYFERRY_OK);
    ASSERT_EQ (keyferry_scheduler_add (scheduler, 0.0, noteOn, sizeof (noteOn)), KEYFERRY_OK);
    ASSERT_EQ (keyferry_scheduler_start (scheduler, 0.0), KEYFERRY_OK);
    EXPECT_EQ (keyferry_scheduler_mode (scheduler), KEYFERRY_MODE_AS_DUE) << "no receiver publishes a clock here";
    EXPECT_EQ (keyferry_scheduler_pump (scheduler), KEYFERRY_OK);
    EXPECT_EQ (keyferry_slot_unread_bytes (handle, 0), 18u);

    keyferry_scheduler_free (scheduler);
    keyferry_link_free (link);
    keyferry_close (handle);
}

TEST_F (Portable, CompanionFilesAreLaidOutSharedAndRead)
{
    makeTable();
    keyferry::BlockClockFile receiverClocks, peerClocks;
    const auto clocks = keyferry::BlockClockFile::pathNextTo (table);
    EXPECT_FALSE (peerClocks.open (clocks, false)) << "a peer never creates it";
    ASSERT_TRUE (receiverClocks.open (clocks, true));
    ASSERT_TRUE (peerClocks.open (clocks, false));

    keyferry::BlockClock published;
    published.sampleCount = 4800;
    published.blockLength = 256;
    published.sampleRate = 48000.0;
    keyferry::publish (receiverClocks.shared()->clocks[0], published);
    keyferry::BlockClock read;
    ASSERT_TRUE (keyferry::read (peerClocks.shared()->clocks[0], read));
    EXPECT_EQ (read.sampleCount, 4800u);
    EXPECT_EQ (read.sampleRate, 48000.0);

    // A holder that runs (this process) is never freed.
    keyferry::HolderFile holders;
    ASSERT_TRUE (holders.open (keyferry::HolderFile::pathNextTo (table), true));
    holders.recordClaim (0, receiverView.image()->slots[0].id);
    EXPECT_EQ (holders.freeDeadHolders (*receiverView.image()), 0);
    EXPECT_NE (receiverView.image()->slots[0].active.load(), 0);
}

TEST (PortableDefaultPath, IsTheFrameworksApplicationDataFolder)
{
    const auto path = keyferry::MappedTableFile::defaultPath();
#ifdef _WIN32
    EXPECT_NE (path.find ("\\AppData\\Roaming\\Keyferry\\receivers.dat"), std::string::npos) << path;
#else
    EXPECT_NE (path.find ("/Keyferry/receivers.dat"), std::string::npos) << path;
#endif
}

#ifdef _WIN32
namespace
{
using keyferry::Liveness;

// This test program run again with no test to run: a process that has ended. Its handle stays
// open, as a parent that has not looked yet would keep it; the caller closes it.
struct EndedProcess
{
    HANDLE handle = nullptr;
    keyferry::ProcessIdentity identity;
};

EndedProcess runOnceAndEnd()
{
    EndedProcess ended;
    wchar_t path[MAX_PATH] {};
    if (::GetModuleFileNameW (nullptr, path, MAX_PATH) == 0)
        return ended;

    std::wstring command = L"\"" + std::wstring (path) + L"\" --gtest_filter=-*";
    STARTUPINFOW startup {};
    startup.cb = sizeof (startup);
    PROCESS_INFORMATION info {};
    if (! ::CreateProcessW (nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return ended;

    ::CloseHandle (info.hThread);
    FILETIME created {}, exited {}, kernel {}, user {};
    ::GetProcessTimes (info.hProcess, &created, &exited, &kernel, &user);
    ::WaitForSingleObject (info.hProcess, INFINITE);

    ended.handle = info.hProcess;
    ended.identity = keyferry::currentProcess(); // this machine
    ended.identity.processId = info.dwProcessId;
    ended.identity.startTime = (static_cast<std::uint64_t> (created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return ended;
}

// Writes record 'index' of holders.dat by hand, naming 'identity' as the holder of claim 'id'.
void writeRecord (const std::string& path, int index, const keyferry::ProcessIdentity& identity, const char* id)
{
    keyferry::CompanionFile file;
    const keyferry::CompanionFile::Layout layout { keyferry::HolderFileMagic, keyferry::HolderFileVersion,
                                                   sizeof (keyferry::HolderRecord), keyferry::HolderFileSize };
    ASSERT_TRUE (file.open (path, layout, false));
    writeHolderRecord (static_cast<keyferry::SharedHolderTable*> (file.data())->records[index], identity, id);
}
} // namespace

TEST (WindowsHolders, AreJudgedByProcessIdCreationTimeAndMachine)
{
    const auto self = keyferry::currentProcess();
    ASSERT_EQ (self.platform, static_cast<std::uint32_t> (keyferry::HolderPlatform::windowsProcess));
    EXPECT_EQ (self.processId, ::GetCurrentProcessId());
    EXPECT_EQ (keyferry::judge (self), Liveness::alive);

    auto reused = self;
    reused.startTime -= 1; // our id, once a process's that started earlier
    EXPECT_EQ (keyferry::judge (reused), Liveness::gone);

    auto missing = self;
    missing.processId = 0x7ffffff0;
    EXPECT_EQ (keyferry::judge (missing), Liveness::gone);

    auto elsewhere = missing;
    elsewhere.bootId[0] ^= 1; // another machine sharing the folder: its ids mean nothing here
    EXPECT_EQ (keyferry::judge (elsewhere), Liveness::unknown);

    auto ended = runOnceAndEnd();
    ASSERT_NE (ended.handle, nullptr);
    EXPECT_EQ (keyferry::judge (ended.identity), Liveness::gone) << "ended, its handle still open";
    ::CloseHandle (ended.handle);
    EXPECT_EQ (keyferry::judge (ended.identity), Liveness::gone);
}

TEST_F (Portable, AHolderThatEndedHasItsSlotFreed)
{
    makeTable();
    keyferry::HolderFile holders;
    const auto path = keyferry::HolderFile::pathNextTo (table);
    ASSERT_TRUE (holders.open (path, true));

    auto ended = runOnceAndEnd();
    ASSERT_NE (ended.handle, nullptr);
    ::CloseHandle (ended.handle);
    writeRecord (path, 0, ended.identity, receiverView.image()->slots[0].id);
    receiverView.image()->activeCount = 1;

    EXPECT_EQ (holders.holderOf (*receiverView.image(), 0).liveness, Liveness::gone);
    EXPECT_EQ (holders.freeDeadHolders (*receiverView.image()), 1);
    EXPECT_EQ (receiverView.image()->slots[0].active.load(), 0);
    EXPECT_EQ (receiverView.image()->activeCount.load(), 0u);
}
#endif
