// Hosts that die holding receivers, as a DAW that crashes: the next instance, loaded in a host
// of its own, frees their slots and takes the lowest one, and a live host keeps its receiver.

#include "HostedReceiver.h"

#include "../support/ContenderProcess.h"

#include <csignal>
#include <cstdlib>

namespace
{
// keyferry-host running the bundle; returns the receiver number it reported, or -1.
int startHost (Contender& host)
{
    host = spawnContender (std::vector<const char*> { KEYFERRY_HOST, "run", KEYFERRY_PLUGIN_BUNDLE, "--seconds=120" });
    int receiver = -1;
    if (host.fromChild == nullptr || std::fscanf (host.fromChild, "ready: receiver %d", &receiver) != 1)
        return -1;
    return receiver;
}

void stop (Contender& host)
{
    ::kill (host.pid, SIGKILL);
    ::waitpid (host.pid, nullptr, 0);
    ::close (host.toChild);
    std::fclose (host.fromChild);
}
} // namespace

TEST (CrashedHost, NextInstanceTakesTheLowestSlotADeadHostHeld)
{
    const TemporaryHome home;
    Contender first, second;
    ASSERT_EQ (startHost (first), 1);
    ASSERT_EQ (startHost (second), 2);

    ::kill (first.pid, SIGKILL); // left uncollected for now, as a parent that has not noticed
    ASSERT_TRUE (waitUntilZombie (first.pid));

    PluginLoader loader;
    juce::String error;
    auto instance = loader.load (juce::File (KEYFERRY_PLUGIN_BUNDLE), 48000.0, blockSize, error);
    ASSERT_NE (instance, nullptr) << error;
    instance->prepareToPlay (48000.0, blockSize);

    keyferry::SenderTable peers;
    ASSERT_EQ (peers.open(), keyferry::SendResult::ok);
    const auto slots = peers.slots();
    EXPECT_EQ (instance->getName(), "Keyferry Receiver");
    EXPECT_TRUE (slots[0].held) << "taken by the new instance";
    EXPECT_TRUE (slots[1].held) << "the live host keeps its receiver";
    EXPECT_FALSE (slots[2].held);

    // The new instance holds receiver 1: what a peer sends there comes out of it.
    keyferry::SendResult result {};
    auto link = peers.link (0, result);
    ASSERT_TRUE (link.has_value());
    const std::uint8_t noteOn[] = { 0x90, 60, 100 };
    ASSERT_EQ (link->send ({ 5, noteOn, sizeof (noteOn) }), keyferry::SendResult::ok);
    juce::AudioBuffer<float> audio (2, blockSize);
    juce::MidiBuffer midi;
    instance->processBlock (audio, midi);
    EXPECT_EQ (midi.getNumEvents(), 1);

    instance->releaseResources();
    stop (first);
    stop (second);
}
