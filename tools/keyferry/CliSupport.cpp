#include "CliSupport.h"

#include <atomic>
#include <csignal>

namespace cli
{
namespace
{
std::atomic<bool> interruptFlag { false };

extern "C" void onInterrupt (int)
{
    interruptFlag.store (true);
}
} // namespace

int Context::fail (int code, const juce::String& message) const
{
    err << "keyferry: " << message << "\n";
    return code;
}

bool openTable (const Context& context, keyferry::SenderTable& table, int& code)
{
    if (table.open (context.tablePath) == keyferry::SendResult::ok)
        return true;

    code = context.fail (refused, "no receivers: load Keyferry Receiver in a host first (no table at " + juce::String (context.tablePath) + ")");
    return false;
}

int slotFromReceiverNumber (const juce::String& text)
{
    if (text.length() != 1 || ! text.containsOnly ("123456789"))
        return -1;
    return text.getIntValue() - 1;
}

std::optional<keyferry::ReceiverLink> openReceiver (const Context& context, keyferry::SenderTable& table,
                                                    const juce::String& receiver, int& code)
{
    const auto slot = slotFromReceiverNumber (receiver);

    if (slot < 0)
    {
        code = context.fail (usage, "a receiver is a number from 1 to 9, as its window shows, got '" + receiver + "'");
        return std::nullopt;
    }

    if (! openTable (context, table, code))
        return std::nullopt;

    keyferry::SendResult result {};
    auto link = table.link (slot, result);

    if (! link)
    {
        juce::StringArray held;
        for (const auto& status : table.slots())
            if (status.held)
                held.add (juce::String (status.index + 1));

        code = context.fail (refused, "receiver " + receiver + " is not held by any plug-in; "
                                          + (held.isEmpty() ? juce::String ("no receiver is held")
                                                            : "held: " + held.joinIntoString (", ")));
    }

    return link;
}

void watchForInterrupt()
{
    interruptFlag.store (false);
    std::signal (SIGINT, onInterrupt);
    std::signal (SIGTERM, onInterrupt);
}

bool interruptRequested()
{
    return interruptFlag.load();
}
} // namespace cli
