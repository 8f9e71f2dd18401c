#include "CliSupport.h"
#include "MidiMessageParser.h"

namespace cli
{
int send (const Context& context)
{
    if (context.arguments.isEmpty())
        return context.fail (usage, "send needs a receiver and a message, e.g. keyferry send 1 note-on 1 60 100");

    auto tokens = context.arguments;
    const auto receiver = tokens[0];
    tokens.remove (0);

    // The whole command line is checked before anything is sent.
    const auto parsed = parseMessages (tokens);
    if (parsed.error.isNotEmpty())
        return context.fail (usage, parsed.error);

    keyferry::SenderTable table;
    int code = done;
    auto link = openReceiver (context, table, receiver, code);
    if (! link)
        return code;

    std::vector<keyferry::OutgoingMessage> outgoing;
    for (const auto& message : parsed.messages)
        outgoing.push_back ({ message.samplePosition, message.bytes.data(), message.bytes.size() });

    std::size_t accepted = 0;
    const auto result = link->send (outgoing.data(), outgoing.size(), accepted);

    if (result != keyferry::SendResult::ok)
        return context.fail (refused, juce::String ("sent ") + juce::String ((int) accepted) + " of " + juce::String ((int) outgoing.size())
                                          + " messages: " + keyferry::describe (result));

    context.out << "sent " << accepted << (accepted == 1 ? " message" : " messages") << " to receiver " << receiver << "\n";
    return done;
}

int panic (const Context& context)
{
    auto arguments = context.arguments;
    const auto all = arguments.contains ("--all");
    arguments.removeString ("--all");

    if (all == (arguments.size() == 1) || arguments.size() > 1)
        return context.fail (usage, "panic needs one receiver (1-9) or --all");

    keyferry::SenderTable table;
    int code = done;

    if (! all)
    {
        auto link = openReceiver (context, table, arguments[0], code);
        if (! link)
            return code;

        return requestSilence (context, *link, arguments[0]);
    }

    if (! openTable (context, table, code))
        return code;

    int asked = 0, failed = 0;
    for (const auto& status : table.slots())
    {
        keyferry::SendResult result {};
        if (auto link = table.link (status.index, result))
            ++(requestSilence (context, *link, juce::String (status.index + 1)) == done ? asked : failed);
    }

    if (failed > 0)
        return refused;

    return asked > 0 ? done : context.fail (refused, "no receiver is held");
}
} // namespace cli
