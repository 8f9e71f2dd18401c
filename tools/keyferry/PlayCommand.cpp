#include "CliSupport.h"
#include "PlaybackSchedule.h"

#include <chrono>
#include <thread>
#include <unistd.h>

namespace cli
{
namespace
{
using Clock = std::chrono::steady_clock;

// An event sent more than this after its time counts as late.
constexpr auto lateAfter = std::chrono::milliseconds (10);

// A full ring is drained within one audio block; waiting longer means the host has stopped.
constexpr auto fullRingPatience = std::chrono::seconds (2);
constexpr auto retryPause = std::chrono::milliseconds (1);

juce::String seconds (double value)
{
    return juce::String (value, 1) + " s";
}
} // namespace

int play (const Context& context)
{
    auto arguments = context.arguments;
    const auto quiet = arguments.contains ("--quiet");
    arguments.removeString ("--quiet");

    if (arguments.size() != 2)
        return context.fail (usage, "play needs a MIDI file and a receiver, e.g. keyferry play song.mid 1");

    const auto path = juce::File::getCurrentWorkingDirectory().getChildFile (arguments[0]);
    const auto receiver = arguments[1];

    juce::MidiFile file;
    if (! path.existsAsFile())
        return context.fail (usage, "no such file: " + path.getFullPathName());
    if (! readMidiFile (path, file))
        return context.fail (usage, path.getFullPathName() + " is not a Standard MIDI File");

    keyferry::SenderTable table;
    int code = done;
    auto link = openReceiver (context, table, receiver, code);
    if (! link)
        return code;

    const auto events = scheduleFromMidiFile (file);
    const auto total = events.empty() ? 0.0 : events.back().seconds;
    const auto showProgress = ! quiet && ::isatty (STDERR_FILENO);

    watchForInterrupt();
    const auto start = Clock::now();
    auto lastProgress = start;
    long sent = 0, retries = 0, late = 0, skippedLong = 0, skippedOther = 0;
    juce::String failure;

    for (const auto& event : events)
    {
        // What no ring message can carry is left out, not allowed to end the whole file.
        if (const auto valid = keyferry::RingWriter::validate ({ 0, event.bytes.data(), event.bytes.size() });
            valid != keyferry::SendResult::ok)
        {
            ++(valid == keyferry::SendResult::messageTooLarge ? skippedLong : skippedOther);
            continue;
        }

        const auto due = start + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (event.seconds));

        while (! interruptRequested() && Clock::now() < due)
            std::this_thread::sleep_until (std::min (due, Clock::now() + std::chrono::milliseconds (20)));

        if (interruptRequested())
            break;

        if (Clock::now() - due > lateAfter)
            ++late;

        const keyferry::OutgoingMessage message { 0, event.bytes.data(), event.bytes.size() };
        auto result = link->send (message);
        const auto giveUp = Clock::now() + fullRingPatience;

        while (result == keyferry::SendResult::ringFull && Clock::now() < giveUp && ! interruptRequested())
        {
            ++retries;
            std::this_thread::sleep_for (retryPause);
            result = link->send (message);
        }

        if (result != keyferry::SendResult::ok)
        {
            failure = result == keyferry::SendResult::ringFull ? juce::String ("the receiver stopped taking messages (ring full)")
                                                                : juce::String (keyferry::describe (result));
            break;
        }

        ++sent;

        if (showProgress && Clock::now() - lastProgress > std::chrono::milliseconds (100))
        {
            lastProgress = Clock::now();
            const std::chrono::duration<double> elapsed = lastProgress - start;
            context.err << "\r" << seconds (elapsed.count()) << " / " << seconds (total) << "  events " << sent << "/"
                        << events.size() << "   " << std::flush;
        }
    }

    if (showProgress)
        context.err << "\n";

    const auto stopped = interruptRequested() || failure.isNotEmpty();
    if (stopped)
        link->requestReset(); // whatever was left sounding

    juce::String skipped;
    if (skippedLong > 0)
        skipped << ", skipped " << skippedLong << " system-exclusive " << (skippedLong == 1 ? "message" : "messages")
                << " longer than 256 bytes";
    if (skippedOther > 0)
        skipped << ", skipped " << skippedOther << " not one complete MIDI message";

    const std::chrono::duration<double> elapsed = Clock::now() - start;
    context.out << "sent " << sent << " of " << events.size() << " events in " << seconds (elapsed.count()) << ", " << retries
                << " retries, " << late << " late" << skipped << (stopped ? ", then asked for silence" : "") << "\n";

    if (failure.isNotEmpty())
        return context.fail (refused, failure);

    return interruptRequested() ? interrupted : done;
}
} // namespace cli
