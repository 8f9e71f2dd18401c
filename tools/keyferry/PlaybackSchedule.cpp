#include "PlaybackSchedule.h"

#include <algorithm>

bool readMidiFile (const juce::File& path, juce::MidiFile& file)
{
    juce::FileInputStream stream (path);
    return stream.openedOk() && file.readFrom (stream, true);
}

std::vector<ScheduledEvent> scheduleFromMidiFile (const juce::MidiFile& original)
{
    auto file = original;
    file.convertTimestampTicksToSeconds();

    std::vector<ScheduledEvent> events;
    for (int track = 0; track < file.getNumTracks(); ++track)
    {
        for (const auto* holder : *file.getTrack (track))
        {
            const auto& message = holder->message;
            if (message.isMetaEvent())
                continue;

            const auto* data = message.getRawData();
            events.push_back ({ message.getTimeStamp(), std::vector<std::uint8_t> (data, data + message.getRawDataSize()) });
        }
    }

    std::stable_sort (events.begin(), events.end(), [] (const auto& a, const auto& b) { return a.seconds < b.seconds; });
    return events;
}
