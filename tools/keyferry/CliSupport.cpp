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
    const auto result = table.open (context.tablePath);
    const auto path = juce::String (context.tablePath);
    const auto why = juce::String (table.openError());

    if (result == keyferry::SendResult::ok)
        return true;

    if (result == keyferry::SendResult::noReceivers)
        code = context.fail (refused, "no receivers: no table at " + path + "; load Keyferry Receiver in a host first");
    else if (result == keyferry::SendResult::tableWrongSize)
        code = context.fail (refused, "the table at " + path + " is not a receiver table (" + why
                                          + ", not 37628 bytes); a receiver replaces it when it starts");
    else
        code = context.fail (refused, "cannot open or map the table at " + path + ": " + why);

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
                                                            : "held: " + held.joinIntoString (", ") + " (keyferry list shows them)"));
    }

    return link;
}

int requestSilence (const Context& context, keyferry::ReceiverLink& link, const juce::String& receiver)
{
    if (const auto result = link.requestReset(); result != keyferry::SendResult::ok)
        return context.fail (refused, "could not ask receiver " + receiver + " to silence all notes: " + keyferry::describe (result));

    context.out << "asked receiver " << receiver << " to silence all notes\n";
    return done;
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
