// Finding, creating and replacing the table file.

#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <table/ReceiverTable.h>

#include <gtest/gtest.h>

namespace
{
using keyferry::TableFileSize;

juce::MemoryBlock readWhole (const juce::File& file)
{
    juce::MemoryBlock bytes;
    file.loadFileAsData (bytes);
    return bytes;
}

bool allZero (const juce::MemoryBlock& bytes)
{
    const auto* data = static_cast<const std::uint8_t*> (bytes.getData());
    return std::all_of (data, data + bytes.getSize(), [] (auto b) { return b == 0; });
}

void writeFile (const juce::File& file, const juce::MemoryBlock& bytes)
{
    ASSERT_TRUE (file.getParentDirectory().createDirectory().wasOk());
    ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
}

juce::MemoryBlock patterned (std::size_t size)
{
    juce::MemoryBlock bytes (size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char> ((i * 7 + 3) & 0xff);
    return bytes;
}
} // namespace

TEST (ReceiverTableFile, MissingFileIsCreatedAsZeros)
{
    const TemporaryHome home;
    const ReceiverTable table;

    EXPECT_TRUE (table.isMapped());
    const auto bytes = readWhole (home.getTableFile());
    EXPECT_EQ (bytes.getSize(), TableFileSize);
    EXPECT_TRUE (allZero (bytes));
}

TEST (ReceiverTableFile, RightSizedFileIsUsedUnchanged)
{
    const TemporaryHome home;
    auto original = patterned (TableFileSize);
    writeFile (home.getTableFile(), original);

    {
        const ReceiverTable table;
        EXPECT_TRUE (table.isMapped());
    }

    EXPECT_EQ (readWhole (home.getTableFile()), original);
}

TEST (ReceiverTableFile, SlotsLeftHeldInTheFileStayHeld)
{
    const TemporaryHome home;
    juce::MemoryBlock image (TableFileSize, true);
    auto* table = static_cast<keyferry::SharedReceiverTable*> (image.getData());
    table->slots[0].active = 1;
    table->slots[1].active = 0xff; // any nonzero byte counts as held
    writeFile (home.getTableFile(), image);

    ReceiverTable receiverTable;
    EXPECT_EQ (receiverTable.RegisterReceiver ("Receiver"), 2);
}

class ReceiverTableWrongFile : public ::testing::TestWithParam<std::size_t>
{
};

TEST_P (ReceiverTableWrongFile, IsReplacedByZeros)
{
    const TemporaryHome home;
    writeFile (home.getTableFile(), patterned (GetParam()));

    const ReceiverTable table;

    EXPECT_TRUE (table.isMapped());
    const auto bytes = readWhole (home.getTableFile());
    EXPECT_EQ (bytes.getSize(), TableFileSize);
    EXPECT_TRUE (allZero (bytes));
}

INSTANTIATE_TEST_SUITE_P (Sizes, ReceiverTableWrongFile, ::testing::Values (0, 1, TableFileSize - 1, TableFileSize + 1));

TEST (ReceiverTableFile, EmptyFolderAtThePathIsReplaced)
{
    const TemporaryHome home;
    ASSERT_TRUE (home.getTableFile().createDirectory().wasOk());

    const ReceiverTable table;

    EXPECT_TRUE (table.isMapped());
    EXPECT_TRUE (home.getTableFile().existsAsFile());
}

TEST (ReceiverTableFile, UnmappedTableRefusesEverySlotOperation)
{
    const TemporaryHome home;
    // A plain file where the folder should be: the folder cannot be made.
    ASSERT_TRUE (home.getFolder().getChildFile (".config").replaceWithText ("in the way"));

    ReceiverTable table;
    juce::MidiBuffer buffer;

    EXPECT_FALSE (table.isMapped());
    EXPECT_EQ (table.RegisterReceiver ("Receiver"), -1);
    EXPECT_FALSE (table.TakeResetRequest (0));
    EXPECT_FALSE (table.ReadMidi (0, buffer));
    table.UnregisterReceiver (0);
    EXPECT_TRUE (buffer.isEmpty());
    EXPECT_FALSE (home.getTableFile().exists());
}

TEST (ReceiverTableFile, TwoTablesShareOneFile)
{
    const TemporaryHome home;
    ReceiverTable first;
    ReceiverTable second;

    EXPECT_EQ (first.RegisterReceiver ("Receiver"), 0);
    EXPECT_EQ (second.RegisterReceiver ("Receiver"), 1);

    const TableFileView view (home.getTableFile());
    EXPECT_EQ (view.table().activeCount.load(), 2u);
}
