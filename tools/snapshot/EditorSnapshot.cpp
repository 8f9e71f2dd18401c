// keyferry-editor-snapshot: paints the plug-in's window in the three states that matter into
// PNG files, for people to look at.
//   keyferry-editor-snapshot OUTPUT_FOLDER
// It runs its receivers against a table file in a temporary HOME of its own.

#include <editor/KeyferryReceiverEditor.h>
#include <processor/KeyferryReceiverProcessor.h>
#include <sender/RingWriter.h>

#include <juce_events/juce_events.h>
#include <juce_graphics/juce_graphics.h>

#include <cstdlib>
#include <iostream>

namespace
{
bool writePng (juce::Component& editor, const juce::File& file)
{
    juce::Image image (juce::Image::ARGB, editor.getWidth(), editor.getHeight(), true, juce::SoftwareImageType());
    {
        juce::Graphics g (image);
        editor.paintEntireComponent (g, false);
    }

    file.deleteFile();
    juce::FileOutputStream stream (file);
    return stream.openedOk() && juce::PNGImageFormat().writeImageToStream (image, stream);
}

// Makes the processor take one message from its ring, as a peer's send would.
void takeOneMessage (KeyferryReceiverProcessor& processor)
{
    const juce::File table (juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                                .getChildFile (keyferry::TableFileRelativePath));
    juce::MemoryMappedFile mapping (table, juce::MemoryMappedFile::readWrite, false);
    auto& slot = static_cast<keyferry::SharedReceiverTable*> (mapping.getData())->slots[processor.getSlotIndex()];

    const std::uint8_t noteOn[] = { 0x90, 60, 100 };
    keyferry::RingWriter (slot).append ({ 0, noteOn, sizeof (noteOn) });

    juce::AudioBuffer<float> audio (2, 64);
    juce::MidiBuffer midi;
    processor.processBlock (audio, midi);
}
} // namespace

int main (int argc, char* argv[])
{
    if (argc != 2)
    {
        std::cerr << "usage: keyferry-editor-snapshot OUTPUT_FOLDER\n";
        return 2;
    }

    const auto output = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]);
    const auto home = juce::File::createTempFile ("keyferry-snapshot-home");
    home.createDirectory();
    ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);

    bool ok = output.createDirectory().wasOk();
    {
        const juce::ScopedJuceInitialiser_GUI juce;

        KeyferryReceiverProcessor flashing;
        flashing.prepareToPlay (48000.0, 64);
        takeOneMessage (flashing);
        KeyferryReceiverEditor flashingEditor (flashing);
        flashingEditor.timerCallback();
        ok = ok && writePng (flashingEditor, output.getChildFile ("editor-connected.png"));

        KeyferryReceiverProcessor idle;
        KeyferryReceiverEditor idleEditor (idle);
        idleEditor.timerCallback();
        ok = ok && writePng (idleEditor, output.getChildFile ("editor-connected-idle.png"));

        KeyferryReceiverProcessor disconnected;
        disconnected.releaseResources();
        const juce::String longName ("Drum machine in the rehearsal room upstairs");
        disconnected.setStateInformation (longName.toRawUTF8(), (int) longName.getNumBytesAsUTF8());
        KeyferryReceiverEditor disconnectedEditor (disconnected);
        ok = ok && writePng (disconnectedEditor, output.getChildFile ("editor-disconnected.png"));
    }

    home.deleteRecursively();

    if (! ok)
    {
        std::cerr << "keyferry-editor-snapshot: could not write into " << output.getFullPathName() << "\n";
        return 1;
    }

    std::cout << "wrote editor-connected.png, editor-connected-idle.png, editor-disconnected.png into "
              << output.getFullPathName() << "\n";
    return 0;
}
