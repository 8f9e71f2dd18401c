#pragma once

#include <sender/SenderTable.h>

#include <juce_core/juce_core.h>

#include <optional>
#include <ostream>

namespace cli
{
enum ExitCode
{
    done = 0,
    refused = 1,
    usage = 2,
    interrupted = 130
};

// What every command gets: its own arguments, the streams, and the table path (--table).
struct Context
{
    juce::StringArray arguments;
    std::ostream& out;
    std::ostream& err;
    std::string tablePath;

    // Prints "keyferry: <message>" to err and returns the exit code.
    int fail (int code, const juce::String& message) const;
};

// Opens the table; on failure prints what to do and returns false with 'code' set.
bool openTable (const Context& context, keyferry::SenderTable& table, int& code);

// "1" ... "9" to a slot index; -1 if the text is not a receiver number.
int slotFromReceiverNumber (const juce::String& text);

// Checks the receiver number the user gave (1-9), opens the table and links to that receiver;
// prints why not (listing the held receivers) and sets 'code' when it cannot.
std::optional<keyferry::ReceiverLink> openReceiver (const Context& context, keyferry::SenderTable& table,
                                                    const juce::String& receiver, int& code);

// Asks the linked receiver to silence all notes and says so; a failed request (the receiver
// went away meanwhile) is reported and refused.
int requestSilence (const Context& context, keyferry::ReceiverLink& link, const juce::String& receiver);

// Ctrl-C handling for the long-running commands.
void watchForInterrupt();
bool interruptRequested();

using Command = int (*) (const Context&);
int list (const Context&);
int send (const Context&);
int panic (const Context&);
int play (const Context&);
int bridge (const Context&);
int freeSlot (const Context&);
int osc (const Context&);
} // namespace cli
