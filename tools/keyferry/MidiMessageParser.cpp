#include "MidiMessageParser.h"

#include <sender/MessageCheck.h>

namespace
{
struct Kind
{
    const char* name;
    const char* arguments;
};

const Kind kinds[] = { { "note-on", "CHANNEL KEY VELOCITY" },
                       { "note-off", "CHANNEL KEY" },
                       { "cc", "CHANNEL CONTROLLER VALUE" },
                       { "program", "CHANNEL PROGRAM" },
                       { "pitch-bend", "CHANNEL VALUE (-8192 to 8191)" },
                       { "raw", "HEX BYTES... (one whole message: status byte first, up to 256)" } };

bool isKind (const juce::String& token)
{
    for (const auto& kind : kinds)
        if (token == kind.name)
            return true;
    return false;
}

// Reads one whole decimal number in [low, high] named 'what', or sets the error.
bool readNumber (const juce::StringArray& tokens, int& index, const char* what, int low, int high, int& value, juce::String& error)
{
    if (index >= tokens.size() || isKind (tokens[index]) || tokens[index] == "--at")
    {
        error = juce::String ("missing ") + what;
        return false;
    }

    const auto token = tokens[index++];
    const auto digits = token.startsWithChar ('-') ? token.substring (1) : token;

    if (digits.isEmpty() || ! digits.containsOnly ("0123456789") || digits.length() > 9)
    {
        error = juce::String (what) + " must be a whole number, got '" + token + "'";
        return false;
    }

    value = token.getIntValue();

    if (value < low || value > high)
    {
        error = juce::String (what) + " must be " + juce::String (low) + "-" + juce::String (high) + ", got " + token;
        return false;
    }

    return true;
}

juce::String hexByte (std::uint8_t byte)
{
    return juce::String::toHexString (static_cast<int> (byte)).paddedLeft ('0', 2).toUpperCase();
}

// Why the bytes are not one complete message, in the user's terms; empty when they are.
juce::String explainRawMessage (const std::vector<std::uint8_t>& bytes)
{
    const auto check = keyferry::checkMessage (bytes.data(), bytes.size());
    const auto status = bytes.front();
    const auto kind = juce::String (keyferry::describeStatus (status)) + " (" + hexByte (status) + ")";
    const auto count = juce::String (static_cast<int> (bytes.size()));
    const juce::String oneEach (": one raw is one message; give each message a raw of its own");

    switch (check.fault)
    {
        case keyferry::MessageFault::none:
            return {};
        case keyferry::MessageFault::noStatusByte:
            return "raw message must start with a status byte (80-FF), got " + hexByte (status);
        case keyferry::MessageFault::notAStart:
            return "raw message cannot start with " + hexByte (status) + ", which starts no MIDI message";
        case keyferry::MessageFault::tooShort:
            return "raw " + kind + " needs " + juce::String (static_cast<int> (check.expectedSize)) + " bytes, got " + count;
        case keyferry::MessageFault::tooLong:
            return "raw " + kind + " is " + juce::String (static_cast<int> (check.expectedSize)) + " bytes, got " + count + oneEach;
        case keyferry::MessageFault::statusInside:
            return "raw " + kind + " has a status byte (" + hexByte (bytes[check.offendingIndex]) + ") at byte "
                   + juce::String (static_cast<int> (check.offendingIndex) + 1) + " where only data bytes (00-7F) belong" + oneEach;
        case keyferry::MessageFault::unterminatedSysex:
            return "raw system-exclusive message must end with F7";
        case keyferry::MessageFault::empty:
        case keyferry::MessageFault::tooLarge:
            break;
    }

    return "raw message is not one complete MIDI message";
}

bool readRawBytes (const juce::StringArray& tokens, int& index, std::vector<std::uint8_t>& bytes, juce::String& error)
{
    juce::String hex;
    while (index < tokens.size() && ! isKind (tokens[index]) && tokens[index] != "--at")
        hex += tokens[index++].removeCharacters (" :");

    if (hex.isEmpty())
        error = "raw needs hexadecimal bytes";
    else if (! hex.containsOnly ("0123456789abcdefABCDEF") || hex.length() % 2 != 0)
        error = "raw bytes must be pairs of hexadecimal digits, got '" + hex + "'";
    else if (hex.length() / 2 > 256)
        error = "raw message has " + juce::String (hex.length() / 2) + " bytes, at most 256 fit in one message";
    else
    {
        for (int i = 0; i < hex.length(); i += 2)
            bytes.push_back (static_cast<std::uint8_t> (hex.substring (i, i + 2).getHexValue32()));

        error = explainRawMessage (bytes);
    }

    return error.isEmpty();
}
} // namespace

juce::String describeMessageKinds()
{
    juce::String text;
    for (const auto& kind : kinds)
        text << "    " << juce::String (kind.name).paddedRight (' ', 12) << kind.arguments << "\n";
    return text;
}

ParseOutcome parseMessages (const juce::StringArray& tokens)
{
    ParseOutcome outcome;
    auto& error = outcome.error;
    std::int32_t position = 0;
    int index = 0;

    while (index < tokens.size() && error.isEmpty())
    {
        const auto token = tokens[index++];
        int channel = 0, a = 0, b = 0;
        std::vector<std::uint8_t> bytes;

        const auto status = [&] (int high) { return static_cast<std::uint8_t> (high | (channel - 1)); };
        const auto byte = [] (int value) { return static_cast<std::uint8_t> (value); };

        if (token == "--at")
        {
            int at = 0;
            if (readNumber (tokens, index, "sample position", 0, 1 << 30, at, error))
                position = at;
            continue;
        }

        if (token == "note-on")
        {
            if (readNumber (tokens, index, "channel", 1, 16, channel, error) && readNumber (tokens, index, "key", 0, 127, a, error)
                && readNumber (tokens, index, "velocity", 0, 127, b, error))
                bytes = { status (0x90), byte (a), byte (b) };
        }
        else if (token == "note-off")
        {
            if (readNumber (tokens, index, "channel", 1, 16, channel, error) && readNumber (tokens, index, "key", 0, 127, a, error))
                bytes = { status (0x80), byte (a), 0 };
        }
        else if (token == "cc")
        {
            if (readNumber (tokens, index, "channel", 1, 16, channel, error)
                && readNumber (tokens, index, "controller", 0, 127, a, error) && readNumber (tokens, index, "value", 0, 127, b, error))
                bytes = { status (0xb0), byte (a), byte (b) };
        }
        else if (token == "program")
        {
            if (readNumber (tokens, index, "channel", 1, 16, channel, error) && readNumber (tokens, index, "program", 0, 127, a, error))
                bytes = { status (0xc0), byte (a) };
        }
        else if (token == "pitch-bend")
        {
            if (readNumber (tokens, index, "channel", 1, 16, channel, error)
                && readNumber (tokens, index, "pitch-bend value", -8192, 8191, a, error))
            {
                const auto value = a + 8192;
                bytes = { status (0xe0), byte (value & 0x7f), byte (value >> 7) };
            }
        }
        else if (token == "raw")
        {
            readRawBytes (tokens, index, bytes, error);
        }
        else
        {
            error = "unknown message '" + token + "'";
        }

        if (error.isEmpty())
            outcome.messages.push_back ({ position, std::move (bytes) });
    }

    if (error.isEmpty() && outcome.messages.empty())
        error = "no message given";

    if (error.isNotEmpty())
        outcome.messages.clear();

    return outcome;
}
