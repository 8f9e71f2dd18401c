#include "CliSupport.h"

namespace cli
{
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
            rows.add (juce::var (row.release()));
        }
        context.out << juce::JSON::toString (juce::var (rows), true) << "\n";
        return done;
    }

    context.out << "RECEIVER  STATE  NAME              ID                                UNREAD\n";
    for (const auto& slot : slots)
    {
        const auto name = slot.name.empty() ? juce::String ("-") : juce::String (slot.name);
        const auto id = slot.id.empty() ? juce::String ("-") : juce::String (slot.id);
        context.out << juce::String (slot.index + 1).paddedRight (' ', 10) << (slot.held ? "held   " : "free   ")
                    << name.paddedRight (' ', 18) << id.paddedRight (' ', 34) << slot.unreadBytes << "\n";
    }
    return done;
}
} // namespace cli
