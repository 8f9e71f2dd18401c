#include "CliSupport.h"

#include <holders/HolderFile.h>

namespace cli
{
int freeSlot (const Context& context)
{
    if (context.arguments.size() != 1)
        return context.fail (usage, "free needs one receiver (1-9), e.g. keyferry free 3");

    const auto receiver = context.arguments[0];
    const auto index = slotFromReceiverNumber (receiver);
    if (index < 0)
        return context.fail (usage, "a receiver is a number from 1 to 9, as keyferry list shows, got '" + receiver + "'");

    keyferry::SenderTable table;
    int code = done;
    if (! openTable (context, table, code))
        return code;

    keyferry::HolderFile holders;
    if (! holders.open (keyferry::HolderFile::pathNextTo (context.tablePath), false))
        return context.fail (refused, "receiver " + receiver + " is left alone: no holder records next to the table "
                                          "(no receiver of this version has claimed a slot there yet)");

    const auto holder = holders.holderOf (*table.image(), index);
    const auto process = "process " + juce::String (static_cast<juce::int64> (holder.processId));

    switch (holders.freeIfGone (*table.image(), index))
    {
        case keyferry::HolderFile::FreeOutcome::freed:
            context.out << "freed receiver " << receiver << ": its holder, " << process << ", has ended\n";
            return done;
        case keyferry::HolderFile::FreeOutcome::notHeld:
            return context.fail (refused, "receiver " + receiver + " is not held");
        case keyferry::HolderFile::FreeOutcome::alive:
            return context.fail (refused, "receiver " + receiver + " is left alone: its holder, " + process + ", is running");
        case keyferry::HolderFile::FreeOutcome::busy:
            return context.fail (refused, "receiver " + receiver + " is left alone: another process is freeing slots; try again");
        case keyferry::HolderFile::FreeOutcome::unknown:
            break;
    }

    return context.fail (refused, "receiver " + receiver + " is left alone: whether its holder runs cannot be told from here ("
                                      + (holder.recorded ? process + " of another boot or PID namespace"
                                                         : juce::String ("held by a receiver that records no holder"))
                                      + ")");
}
} // namespace cli
