// The plug-in's window opened through the VST3 wrapper's editor view in a real window. Needs a
// display: CTest runs it under Xvfb, and it skips itself where there is none.

#include "../support/TemporaryHome.h"

#include <PluginLoader.h>

#include <gtest/gtest.h>

#include <cstdlib>

TEST (HostedEditor, OpensInAWindowAndClosesCleanly)
{
    if (std::getenv ("DISPLAY") == nullptr)
        GTEST_SKIP() << "no display";

    const TemporaryHome home;
    PluginLoader loader;
    juce::String error;
    auto plugin = loader.load (juce::File (KEYFERRY_PLUGIN_BUNDLE), 48000.0, 512, error);
    ASSERT_NE (plugin, nullptr) << error;
    ASSERT_TRUE (plugin->hasEditor());

    // The framework's VST3 host asks the controller for createView ("editor") and attaches the
    // view to this component's native window.
    std::unique_ptr<juce::AudioProcessorEditor> editor (plugin->createEditorIfNeeded());
    ASSERT_NE (editor, nullptr);

    editor->addToDesktop (0);
    editor->setVisible (true);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (400);

    EXPECT_EQ (editor->getWidth(), 280);
    EXPECT_EQ (editor->getHeight(), 120);
    EXPECT_FALSE (editor->isResizable());
    EXPECT_TRUE (editor->isShowing());

    // Closing: the view is removed and the plug-in's editor (and its timer) destroyed.
    editor.reset();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
    EXPECT_EQ (plugin->getActiveEditor(), nullptr);
    plugin.reset();
}
