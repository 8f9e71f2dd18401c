#include "CliSupport.h"

#include <holders/HolderFile.h>

namespace cli
{
namespace
{
const char* describeLiveness (const keyferry::HolderFile::Holder& holder)
{
    if (! holder.recorded)
        return "unknown";
    if (holder.liveness == keyferry::Liveness::alive)
        return "alive";
    return holder.liveness == keyferry::Liveness::gone ? "gone" : "unknown";
}
} // namespace

int list (const Context& context)
{
    auto arguments = context.arguments;
    const auto json = arguments.contains ("--json");
    arguments.removeString ("--json");
    if (! arguments.isEmpty())
        return context.fail (usage, "list takes no arguments but --json, got '" + arguments[0] + "'");

    keyferry::SenderTable table;
    int code = done;
    if (! openTable (context, table, code))
        return code;

    const auto slots = table.slots();
    keyferry::HolderFile holders;
    holders.open (keyferry::HolderFile::pathNextTo (context.tablePath), false);

    if (json)
    {
        juce::Array<juce::var> rows;
        for (const auto& slot : slots)
        {
            auto row = std::make_unique<juce::DynamicObject>();
            row->setProperty ("receiver", slot.index + 1);
            row->setProperty ("held", slot.held);
            row->setProperty ("name", juce::String (slot.name));
            row->setProperty ("id", juce::String (slot.id));
            row->setProperty ("unreadBytes", static_cast<int> (slot.unreadBytes));
            const auto holder = holders.holderOf (*table.image(), slot.index);
            row->setProperty ("holder", slot.held ? juce::var (describeLiveness (holder)) : juce::var());
            row->setProperty ("holderProcess", holder.recorded ? juce::var (static_cast<juce::int64> (holder.processId)) : juce::var());
            rows.add (juce::var (row.release()));
        }
        context.out << juce::JSON::toString (juce::var (rows), true) << "\n";
        return done;
    }

    context.out << "RECEIVER  STATE  NAME              ID                                UNREAD  HOLDER\n";
    for (const auto& slot : slots)
    {
        const auto name = slot.name.empty() ? juce::String ("-") : juce::String (slot.name);
        const auto id = slot.id.empty() ? juce::String ("-") : juce::String (slot.id);
        const auto holder = holders.holderOf (*table.image(), slot.index);
        const auto holderText = ! slot.held ? juce::String ("-")
                                            : (holder.recorded ? "process " + juce::String (static_cast<juce::int64> (holder.processId)) + " " : juce::String())
                                                  + describeLiveness (holder);
        context.out << juce::String (slot.index + 1).paddedRight (' ', 10) << (slot.held ? "held   " : "free   ")
                    << name.paddedRight (' ', 18) << id.paddedRight (' ', 34) << juce::String (slot.unreadBytes).paddedRight (' ', 8)
                    << holderText << "\n";
    }
    return done;
}
} // namespace cli
