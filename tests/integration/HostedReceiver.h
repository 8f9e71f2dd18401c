#pragma once

// A fixture that loads the built bundle through the framework's VST3 hosting in a fresh HOME,
// with a sending peer linked to the slot the instance claimed.

#include "../support/TemporaryHome.h"

#include <PluginLoader.h>
#include <sender/SenderTable.h>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct Event
{
    int position;
    Bytes bytes;

    bool operator== (const Event& other) const { return position == other.position && bytes == other.bytes; }
};

inline std::ostream& operator<< (std::ostream& stream, const Event& event)
{
    stream << "{" << event.position << ":";
    for (auto b : event.bytes)
        stream << " " << std::hex << int (b) << std::dec;
    return stream << "}";
}

inline std::vector<Event> eventsOf (const juce::MidiBuffer& buffer)
{
    std::vector<Event> events;
    for (const auto metadata : buffer)
        events.push_back ({ metadata.samplePosition, Bytes (metadata.data, metadata.data + metadata.numBytes) });
    return events;
}

inline std::vector<Event> resetEvents()
{
    std::vector<Event> events;
    for (std::uint8_t channel = 0; channel < 16; ++channel)
    {
        events.push_back ({ 0, { static_cast<std::uint8_t> (0xb0 | channel), 123, 0 } });
        events.push_back ({ 0, { static_cast<std::uint8_t> (0xb0 | channel), 120, 0 } });
    }
    return events;
}

inline Bytes note (std::uint8_t key) { return { 0x90, key, 100 }; }

inline juce::File bundle() { return juce::File (KEYFERRY_PLUGIN_BUNDLE); }

inline constexpr int blockSize = 512;

class HostedReceiver : public ::testing::Test
{
protected:
    std::unique_ptr<juce::AudioPluginInstance> loadInstance()
    {
        juce::String error;
        auto instance = loader.load (bundle(), 48000.0, blockSize, error);
        EXPECT_NE (instance, nullptr) << error;
        if (instance != nullptr)
            instance->prepareToPlay (48000.0, blockSize);
        return instance;
    }

    void SetUp() override
    {
        plugin = loadInstance();
        ASSERT_NE (plugin, nullptr);
        ASSERT_EQ (peer.open(), keyferry::SendResult::ok);
        link = linkTo (0);
        ASSERT_TRUE (link.has_value());
    }

    void TearDown() override
    {
        if (plugin != nullptr)
            plugin->releaseResources();
    }

    std::optional<keyferry::ReceiverLink> linkTo (int slot)
    {
        keyferry::SendResult result {};
        auto newLink = peer.link (slot, result);
        EXPECT_EQ (result, keyferry::SendResult::ok) << keyferry::describe (result);
        return newLink;
    }

    void send (std::int32_t position, const Bytes& bytes)
    {
        ASSERT_EQ (link->send ({ position, bytes.data(), bytes.size() }), keyferry::SendResult::ok);
    }

    // One block through the plug-in; input audio is a non-silent constant.
    std::vector<Event> process (juce::AudioPluginInstance& instance, int numSamples, juce::MidiBuffer midi = {})
    {
        juce::AudioBuffer<float> audio (2, numSamples);
        for (int channel = 0; channel < 2; ++channel)
            juce::FloatVectorOperations::fill (audio.getWritePointer (channel), 0.5f, numSamples);

        instance.processBlock (audio, midi);
        lastPeak = numSamples > 0 ? audio.getMagnitude (0, numSamples) : 0.0f;
        return eventsOf (midi);
    }

    std::vector<Event> process (int numSamples = blockSize, juce::MidiBuffer midi = {})
    {
        return process (*plugin, numSamples, std::move (midi));
    }

    TemporaryHome home;
    PluginLoader loader;
    std::unique_ptr<juce::AudioPluginInstance> plugin;
    keyferry::SenderTable peer;
    std::optional<keyferry::ReceiverLink> link;
    float lastPeak = -1.0f;
};
