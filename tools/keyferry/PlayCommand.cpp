#include "CliSupport.h"
#include "PlaybackSchedule.h"

#include <clock/BlockClockFile.h>
#include <sender/Scheduler.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <unistd.h>

namespace cli
{
namespace
{
using Clock = std::chrono::steady_clock;

// A full ring is drained within one audio block; waiting longer means the host has stopped.
constexpr auto fullRingPatience = std::chrono::seconds (2);
constexpr auto longestSleep = std::chrono::milliseconds (20);
constexpr double defaultLatencyMs = 100.0;

juce::String seconds (double value)
{
    return juce::String (value, 1) + " s";
}

// Takes "--name VALUE" out of the arguments; false for a value that is missing or not a number.
bool takeNumber (juce::StringArray& arguments, const char* name, double& value, juce::String& error)
{
    const auto index = arguments.indexOf (name);
    if (index < 0)
        return true;

    const auto text = arguments[index + 1];
    if (index + 1 >= arguments.size() || ! text.containsOnly ("0123456789.") || text.isEmpty())
    {
        error = juce::String (name) + " needs a number of milliseconds, e.g. " + name + " 100";
        return false;
    }

    value = text.getDoubleValue();
    arguments.removeRange (index, 2);
    return true;
}

void sleepFor (double secondsToSleep)
{
    const auto wanted = std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (secondsToSleep));
    std::this_thread::sleep_for (std::min<Clock::duration> (std::max<Clock::duration> (wanted, std::chrono::milliseconds (1)), longestSleep));
}
} // namespace

int play (const Context& context)
{
    auto arguments = context.arguments;
    const auto quiet = arguments.contains ("--quiet");
    const auto follow = arguments.contains ("--follow");
    const auto asDue = arguments.contains ("--as-due");
    arguments.removeString ("--quiet");
    arguments.removeString ("--follow");
    arguments.removeString ("--as-due");

    if (follow && asDue)
        return context.fail (usage, "--follow and --as-due exclude each other");

    double latencyMs = defaultLatencyMs;
    if (juce::String error; ! takeNumber (arguments, "--latency", latencyMs, error))
        return context.fail (usage, error);

    if (arguments.size() != 2)
        return context.fail (usage, "play needs a MIDI file and a receiver, e.g. keyferry play song.mid 1");

    const auto path = juce::File::getCurrentWorkingDirectory().getChildFile (arguments[0]);
    const auto receiver = arguments[1];

    juce::MidiFile file;
    if (! path.existsAsFile())
        return context.fail (usage, "no such file: " + path.getFullPathName());
    if (! readMidiFile (path, file))
        return context.fail (usage, path.getFullPathName() + " is not a Standard MIDI File");

    const auto events = scheduleFromMidiFile (file, follow ? TimeUnit::quarterNotes : TimeUnit::seconds);
    if (follow && events.empty() && file.getTimeFormat() <= 0)
        return context.fail (usage, "--follow needs a file timed in quarter notes, not in SMPTE frames");

    keyferry::SenderTable table;
    int code = done;
    auto link = openReceiver (context, table, receiver, code);
    if (! link)
        return code;

    keyferry::BlockClockFile clocks;
    clocks.open (keyferry::BlockClockFile::pathNextTo (context.tablePath), false);
    keyferry::Scheduler scheduler (*link, clocks, latencyMs / 1000.0);

    long skippedLong = 0, skippedOther = 0;
    for (const auto& event : events)
    {
        // What no ring message can carry is left out, not allowed to end the whole file.
        if (const auto added = scheduler.add (event.time, event.bytes.data(), event.bytes.size()); added != keyferry::SendResult::ok)
            ++(added == keyferry::SendResult::messageTooLarge ? skippedLong : skippedOther);
    }

    watchForInterrupt();

    if (follow)
    {
        context.out << "waiting for the host's transport to play (Ctrl-C stops)\n" << std::flush;
        auto started = keyferry::SendResult::noTransport;
        while (! interruptRequested() && (started = scheduler.startFollowing (0.5)) == keyferry::SendResult::noTransport
               && scheduler.mode() != keyferry::Scheduler::Mode::asDue)
        {
        }

        if (interruptRequested())
            return interrupted;
        if (started != keyferry::SendResult::ok)
            return context.fail (refused, scheduler.mode() == keyferry::Scheduler::Mode::asDue
                                              ? "receiver " + receiver + " publishes no clock, which --follow needs"
                                              : juce::String (keyferry::describe (started)));
        context.out << "following the host's transport from the next bar\n" << std::flush;
    }
    else if (asDue)
    {
        scheduler.startAsDue();
    }
    else if (const auto started = scheduler.start(); started != keyferry::SendResult::ok)
    {
        return context.fail (refused, keyferry::describe (started));
    }
    else if (scheduler.mode() == keyferry::Scheduler::Mode::asDue)
    {
        context.err << "keyferry: receiver " << receiver << " publishes no clock: sending events as they fall due\n";
    }

    const auto queued = scheduler.pending();
    const auto showProgress = ! quiet && ::isatty (STDERR_FILENO);
    const auto start = Clock::now();
    auto lastProgress = start;
    auto fullSince = Clock::time_point {};
    long retries = 0;
    juce::String failure;
    auto transportStopped = false;

    while (! scheduler.finished() && ! interruptRequested())
    {
        const auto result = scheduler.pump();

        if (result == keyferry::SendResult::ringFull)
        {
            ++retries;
            if (fullSince == Clock::time_point {})
                fullSince = Clock::now();
            else if (Clock::now() - fullSince > fullRingPatience)
            {
                failure = "the receiver stopped taking messages (ring full)";
                break;
            }
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
            continue;
        }

        fullSince = {};

        if (result == keyferry::SendResult::transportStopped)
        {
            transportStopped = true;
            break;
        }

        if (result != keyferry::SendResult::ok)
        {
            failure = keyferry::describe (result);
            break;
        }

        if (showProgress && Clock::now() - lastProgress > std::chrono::milliseconds (100))
        {
            lastProgress = Clock::now();
            context.err << "\r" << seconds (std::chrono::duration<double> (lastProgress - start).count()) << "  events "
                        << scheduler.written() << "/" << queued << "   " << std::flush;
        }

        sleepFor (scheduler.secondsUntilNextWrite());
    }

    // Timed, written is not yet played: the last events wait in the ring, at most the lookahead
    // ahead, until their time.
    const auto timed = scheduler.mode() != keyferry::Scheduler::Mode::asDue;
    const auto playedBy = Clock::now() + std::chrono::seconds (2)
                          + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (keyferry::Scheduler::lookaheadSeconds));
    while (timed && failure.isEmpty() && ! transportStopped && ! interruptRequested()
           && table.slot (link->slotIndex()).unreadBytes > 0 && Clock::now() < playedBy)
        std::this_thread::sleep_for (std::chrono::milliseconds (2));

    if (showProgress)
        context.err << "\n";

    const auto stopped = interruptRequested() || failure.isNotEmpty();
    if (stopped)
        link->requestReset(); // whatever was left sounding, and what waits for its time

    juce::String notes;
    if (skippedLong > 0)
        notes << ", skipped " << skippedLong << " system-exclusive " << (skippedLong == 1 ? "message" : "messages") << " longer than 256 bytes";
    if (skippedOther > 0)
        notes << ", skipped " << skippedOther << " not one complete MIDI message";
    if (transportStopped)
        notes << ", the host's transport stopped: silenced";

    const auto sent = static_cast<long> (scheduler.written());
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    const auto timing = scheduler.mode() == keyferry::Scheduler::Mode::asDue ? " (as they fell due)" : "";
    context.out << "sent " << sent << " of " << events.size() << " events in " << seconds (elapsed.count()) << timing << ", " << retries
                << " retries, " << scheduler.lateEvents() << " late" << notes << (stopped ? ", then asked for silence" : "") << "\n";

    if (failure.isNotEmpty())
        return context.fail (refused, failure);

    return interruptRequested() ? interrupted : done;
}
} // namespace cli
