// The status window, painted into an image with the software renderer and compared with the same
// renderer's painting of what the window should show: the shapes at points that prove the
// geometry, and each text, in its colour and font, pixel for pixel over its whole area.

#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <editor/KeyferryReceiverEditor.h>
#include <processor/KeyferryReceiverProcessor.h>
#include <sender/RingWriter.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace
{
const juce::Colour background { 0xff232323 };
const juce::Colour lightOn { 0xff4caf50 };
const juce::Colour lightOff { 0xff5a5a5a };
const juce::Colour track { 0xff3a3a3a };
const juce::Colour fill { 0xffff8c00 };

// The shapes of the window at 280 x 120, painted from fixed rectangles rather than from the
// editor's layout code.
juce::Image referenceImage (bool connected, float level)
{
    juce::Image image (juce::Image::ARGB, 280, 120, true, juce::SoftwareImageType());
    juce::Graphics g (image);
    g.fillAll (background);
    g.setColour (connected ? lightOn : lightOff);
    g.fillEllipse (18.0f, 62.0f, 12.0f, 12.0f);
    g.setColour (track);
    g.fillRoundedRectangle (156.0f, 62.0f, 80.0f, 12.0f, 4.0f);
    if (level > 0.01f)
    {
        g.setColour (fill.withAlpha (level));
        g.fillRoundedRectangle (156.0f, 62.0f, 80.0f * level, 12.0f, 4.0f);
    }
    return image;
}

juce::Image paintedImage (juce::Component& editor)
{
    juce::Image image (juce::Image::ARGB, editor.getWidth(), editor.getHeight(), true, juce::SoftwareImageType());
    juce::Graphics g (image);
    editor.paintEntireComponent (g, false);
    return image;
}

class EditorPaint : public ::testing::Test
{
protected:
    // Makes the processor take a message, so its activity stamp changes.
    void takeMessage()
    {
        const std::uint8_t noteOn[] = { 0x90, 60, 100 };
        ASSERT_EQ (writer.append ({ 0, noteOn, 3 }), keyferry::SendResult::ok);
        const auto before = processor.getLastActivityMs();
        while (processor.getLastActivityMs() == before)
        {
            juce::MidiBuffer midi;
            processor.processBlock (audio, midi);
            ASSERT_EQ (writer.append ({ 0, noteOn, 3 }), keyferry::SendResult::ok);
        }
    }

    void flashAndTick (int unchangedTicks)
    {
        takeMessage();
        editor.timerCallback();
        for (int i = 0; i < unchangedTicks; ++i)
            editor.timerCallback();
    }

    TemporaryHome home;
    KeyferryReceiverProcessor processor;
    TableFileView view { home.getTableFile() };
    keyferry::RingWriter writer { view.slot (0) };
    juce::AudioBuffer<float> audio { 2, 64 };
    KeyferryReceiverEditor editor { processor };
};

struct PaintCase
{
    const char* name;
    bool connected;
    int ticksAfterFlash; // -1: no activity yet
    float expectedLevel;
    float expectedFillWidth;
};

void PrintTo (const PaintCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class EditorPaintCases : public EditorPaint, public ::testing::WithParamInterface<PaintCase>
{
};
} // namespace

TEST_P (EditorPaintCases, ShapesStandWhereTheyBelong)
{
    const auto& param = GetParam();
    processor.prepareToPlay (48000.0, 64);
    if (param.ticksAfterFlash >= 0)
        flashAndTick (param.ticksAfterFlash);
    else
        editor.timerCallback();
    if (! param.connected)
        processor.releaseResources();

    EXPECT_FLOAT_EQ (editor.getActivityLevel(), param.expectedLevel);

    const auto painted = paintedImage (editor);
    const auto reference = referenceImage (param.connected, param.expectedLevel);

    // Background corners and gaps, the light's centre and rim, the bar's row from end to end.
    const std::vector<juce::Point<int>> points { { 1, 1 },   { 278, 118 }, { 8, 50 },   { 150, 68 },  { 24, 68 },  { 19, 68 },
                                                 { 24, 63 }, { 157, 68 },  { 170, 68 }, { 200, 64 },  { 211, 68 }, { 218, 68 },
                                                 { 220, 68 }, { 222, 68 }, { 226, 68 }, { 230, 68 },  { 234, 72 }, { 240, 68 },
                                                 { 196, 61 }, { 196, 74 } };

    for (const auto point : points)
        EXPECT_EQ (painted.getPixelAt (point.x, point.y).getARGB(), reference.getPixelAt (point.x, point.y).getARGB())
            << "at " << point.x << "," << point.y;

    if (param.expectedFillWidth > 0.0f)
    {
        // Where the fill ends: fully covered a pixel before, plain track two pixels after.
        const auto end = 156.0f + param.expectedFillWidth;
        const auto inside = static_cast<int> (std::floor (end)) - 2;
        const auto outside = static_cast<int> (std::ceil (end)) + 1;
        EXPECT_NE (painted.getPixelAt (inside, 68), track);
        if (outside < 236)
        {
            EXPECT_EQ (painted.getPixelAt (outside, 68), track);
        }
    }
}

INSTANTIATE_TEST_SUITE_P (
    States,
    EditorPaintCases,
    ::testing::Values (PaintCase { "FreshInstanceShowsNoFill", true, -1, 0.0f, 0.0f },
                       PaintCase { "FlashIsFullAndOpaque", true, 0, 1.0f, 80.0f },
                       PaintCase { "OneTickLater", true, 1, 0.9f, 72.0f },
                       PaintCase { "TwoTicksLater", true, 2, 0.81f, 64.8f },
                       PaintCase { "StillDrawnAfter43Ticks", true, 43, std::pow (0.9f, 43.0f), 0.0f },
                       PaintCase { "GoneAfter44Ticks", true, 44, 0.0f, 0.0f },
                       PaintCase { "DisconnectedIsGrey", false, 2, 0.81f, 64.8f }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });

TEST_F (EditorPaint, ActivityInEveryTickKeepsTheBarFull)
{
    processor.prepareToPlay (48000.0, 64);
    for (int tick = 0; tick < 10; ++tick)
    {
        takeMessage();
        editor.timerCallback();
        EXPECT_EQ (editor.getActivityLevel(), 1.0f);
    }
}

namespace
{
// Each text of the window painted on its own, with the renderer the test paints the editor with.
struct TextCase
{
    const char* name;
    bool connected;
    const char* displayName;
    juce::Rectangle<int> area;
    const char* text;
    juce::Colour colour;
    float height;
    juce::Justification justification;
};

void PrintTo (const TextCase& testCase, std::ostream* stream) { *stream << testCase.name; }

juce::Image textImage (const TextCase& testCase)
{
    juce::Image image (juce::Image::ARGB, 280, 120, true, juce::SoftwareImageType());
    juce::Graphics g (image);
    g.fillAll (background);
    g.setColour (testCase.colour);
    g.setFont (juce::FontOptions (juce::String(), testCase.height, juce::Font::bold));
    g.drawText (testCase.text, testCase.area.toFloat(), testCase.justification, true);
    return image;
}

class EditorTexts : public EditorPaint, public ::testing::WithParamInterface<TextCase>
{
};

const juce::Colour text { 0xffe8e8e8 };
const juce::Colour nameColour { 0xb2e8e8e8 };
const juce::Rectangle<int> titleArea { 16, 16, 248, 28 };
const juce::Rectangle<int> statusArea { 40, 56, 100, 24 };
// The name line gets the 12 pixels left of its 20 at this window size.
const juce::Rectangle<int> nameArea { 16, 92, 248, 12 };
} // namespace

TEST_P (EditorTexts, TextIsPaintedInItsColourAndBoldFont)
{
    const auto& param = GetParam();
    processor.prepareToPlay (48000.0, 64);
    processor.setStateInformation (param.displayName, static_cast<int> (std::strlen (param.displayName)) + 1);
    if (! param.connected)
        processor.releaseResources();

    const auto painted = paintedImage (editor);
    const auto expected = textImage (param);

    int inked = 0, differing = 0;
    for (int y = param.area.getY(); y < param.area.getBottom(); ++y)
    {
        for (int x = param.area.getX(); x < param.area.getRight(); ++x)
        {
            inked += expected.getPixelAt (x, y) != background ? 1 : 0;
            differing += painted.getPixelAt (x, y) != expected.getPixelAt (x, y) ? 1 : 0;
        }
    }

    EXPECT_GT (inked, 20) << "the text leaves ink";
    EXPECT_EQ (differing, 0) << "pixels unlike \"" << param.text << "\"";
}

INSTANTIATE_TEST_SUITE_P (
    Texts,
    EditorTexts,
    ::testing::Values (
        TextCase { "Title", true, "Receiver 1", titleArea, "Keyferry Receiver", text, 18.0f, juce::Justification::centred },
        TextCase { "Connected", true, "Receiver 1", statusArea, "Connected", text, 14.0f, juce::Justification::centredLeft },
        TextCase { "Disconnected", false, "Receiver 1", statusArea, "Disconnected", text, 14.0f, juce::Justification::centredLeft },
        TextCase { "Name", true, "Receiver 1", nameArea, "Receiver 1", nameColour, 14.0f, juce::Justification::centred },
        TextCase { "RestoredName", false, "Drums left", nameArea, "Drums left", nameColour, 14.0f, juce::Justification::centred }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });

TEST_F (EditorPaint, EmptyNameLeavesTheNameLineBlankAndNothingIsDrawnOutsideTheRows)
{
    processor.setStateInformation ("", 0);
    const auto blank = paintedImage (editor);

    const auto countNonBackground = [] (const juce::Image& image, juce::Rectangle<int> area)
    {
        int count = 0;
        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                count += image.getPixelAt (x, y) != background ? 1 : 0;
        return count;
    };

    EXPECT_EQ (countNonBackground (blank, nameArea), 0);
    EXPECT_EQ (countNonBackground (blank, { 0, 105, 280, 15 }), 0);
    EXPECT_EQ (countNonBackground (blank, { 237, 56, 27, 24 }), 0);
}

TEST_F (EditorPaint, WindowIsFixedAt280By120WithNoChildren)
{
    EXPECT_EQ (editor.getWidth(), 280);
    EXPECT_EQ (editor.getHeight(), 120);
    EXPECT_EQ (editor.getNumChildComponents(), 0);
    EXPECT_FALSE (editor.isResizable());
    EXPECT_TRUE (editor.isTimerRunning());
    EXPECT_EQ (editor.getTimerInterval(), 33);
}
