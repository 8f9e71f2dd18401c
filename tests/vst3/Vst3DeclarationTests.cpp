// What the built module declares to a VST3 host, read through the SDK's interfaces alone: no
// part of the framework is linked into this test.

#include "Vst3Module.h"

#include <pluginterfaces/base/iplugincompatibility.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstmidicontrollers.h>
#include <pluginterfaces/vst/ivstunits.h>
#include <public.sdk/source/common/memorystream.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace
{
using namespace Steinberg;

std::string text (const Vst::TChar* utf16)
{
    std::string out;
    for (; *utf16 != 0; ++utf16)
        out.push_back (*utf16 < 0x80 ? static_cast<char> (*utf16) : '?');
    return out;
}

std::string idText (const TUID cid)
{
    char8 buffer[64] {};
    FUID::fromTUID (cid).toString (buffer);
    return buffer;
}

bool tuidFrom (const char* idText, TUID cid)
{
    FUID fuid;
    if (! fuid.fromString (idText))
        return false;
    fuid.toTUID (cid);
    return true;
}

template <typename Interface>
Interface* queryOrNull (FUnknown* object)
{
    Interface* result = nullptr;
    if (object != nullptr && object->queryInterface (Interface::iid, reinterpret_cast<void**> (&result)) == kResultOk)
        return result;
    return nullptr;
}

std::string streamBytes (MemoryStream& stream)
{
    return std::string (stream.getData(), static_cast<std::size_t> (stream.getSize()));
}

// HOME pointed at a fresh folder, so the plug-in's table file is a private one.
class PlainTemporaryHome
{
public:
    PlainTemporaryHome()
    {
        char pattern[] = "/tmp/keyferry-vst3-XXXXXX";
        folder = ::mkdtemp (pattern);
        if (const auto* home = std::getenv ("HOME"))
            previous = home;
        ::setenv ("HOME", folder.c_str(), 1);
    }

    ~PlainTemporaryHome()
    {
        ::setenv ("HOME", previous.c_str(), 1);
        std::filesystem::remove_all (folder);
    }

    std::string tableFile() const { return folder + "/.config/Keyferry/receivers.dat"; }

private:
    std::string folder, previous;
};

std::uint32_t changeCounterIn (const std::string& path)
{
    std::ifstream file (path, std::ios::binary);
    std::uint32_t value = 0;
    file.read (reinterpret_cast<char*> (&value), sizeof (value));
    return value;
}

constexpr const char* componentId = "ABCDEF019182FAEB4876726B4B667972";
constexpr const char* controllerId = "ABCDEF011234ABCD4876726B4B667972";
constexpr const char* compatibilityId = "ABCDEF01C0DEF00D4876726B4B667972";

// One plug-in instance as a host makes it: component and controller, connected.
struct Instance
{
    explicit Instance (IPluginFactory* factory)
    {
        TUID cid;
        if (! tuidFrom (componentId, cid)
            || factory->createInstance (cid, Vst::IComponent::iid, reinterpret_cast<void**> (&component)) != kResultOk
            || component->initialize (nullptr) != kResultOk)
            return;

        if (component->getControllerClassId (controllerCid) != kResultOk
            || factory->createInstance (controllerCid, Vst::IEditController::iid, reinterpret_cast<void**> (&controller)) != kResultOk
            || controller->initialize (nullptr) != kResultOk)
            return;

        componentConnection = queryOrNull<Vst::IConnectionPoint> (component);
        controllerConnection = queryOrNull<Vst::IConnectionPoint> (controller);
        if (componentConnection != nullptr && controllerConnection != nullptr)
        {
            componentConnection->connect (controllerConnection);
            controllerConnection->connect (componentConnection);
        }
    }

    ~Instance()
    {
        if (componentConnection != nullptr && controllerConnection != nullptr)
        {
            componentConnection->disconnect (controllerConnection);
            controllerConnection->disconnect (componentConnection);
        }
        for (auto* connection : { componentConnection, controllerConnection })
            if (connection != nullptr)
                connection->release();
        if (controller != nullptr)
        {
            controller->terminate();
            controller->release();
        }
        if (component != nullptr)
        {
            component->terminate();
            component->release();
        }
    }

    bool isValid() const { return component != nullptr && controller != nullptr && componentConnection != nullptr; }

    Instance (const Instance&) = delete;
    Instance& operator= (const Instance&) = delete;

    Vst::IComponent* component = nullptr;
    Vst::IEditController* controller = nullptr;
    Vst::IConnectionPoint* componentConnection = nullptr;
    Vst::IConnectionPoint* controllerConnection = nullptr;
    TUID controllerCid {};
};

class Vst3Declarations : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE (module.factory, nullptr) << module.error;
        factory2 = queryOrNull<IPluginFactory2> (module.factory);
        factory3 = queryOrNull<IPluginFactory3> (module.factory);
        ASSERT_NE (factory2, nullptr);
        ASSERT_NE (factory3, nullptr);
    }

    void TearDown() override
    {
        instance.reset();
        if (factory3 != nullptr)
            factory3->release();
        if (factory2 != nullptr)
            factory2->release();
    }

    void createComponentAndController()
    {
        instance = std::make_unique<Instance> (module.factory);
        ASSERT_TRUE (instance->isValid());
        EXPECT_EQ (idText (instance->controllerCid), controllerId);
        component = instance->component;
        controller = instance->controller;
    }

    PlainTemporaryHome home;
    Vst3Module module { KEYFERRY_PLUGIN_BUNDLE };
    IPluginFactory2* factory2 = nullptr;
    IPluginFactory3* factory3 = nullptr;
    std::unique_ptr<Instance> instance;
    Vst::IComponent* component = nullptr;
    Vst::IEditController* controller = nullptr;
};
} // namespace

TEST_F (Vst3Declarations, FactoryNamesTheVendorAndTheThreeClassesInOrder)
{
    PFactoryInfo info {};
    ASSERT_EQ (module.factory->getFactoryInfo (&info), kResultOk);
    EXPECT_STREQ (info.vendor, "Halvork");
    EXPECT_STREQ (info.url, "");
    EXPECT_STREQ (info.email, "");
    EXPECT_EQ (info.flags, 16);

    ASSERT_EQ (module.factory->countClasses(), 3);

    const struct
    {
        const char* category;
        const char* subCategories;
        const char* id;
    } expected[] = { { "Audio Module Class", "Fx", componentId },
                     { "Component Controller Class", "Fx", controllerId },
                     { "Plugin Compatibility Class", "", compatibilityId } };

    for (int32 i = 0; i < 3; ++i)
    {
        PClassInfo2 info2 {};
        PClassInfoW infoW {};
        ASSERT_EQ (factory2->getClassInfo2 (i, &info2), kResultOk);
        ASSERT_EQ (factory3->getClassInfoUnicode (i, &infoW), kResultOk);

        SCOPED_TRACE (expected[i].category);
        EXPECT_STREQ (info2.category, expected[i].category);
        EXPECT_STREQ (info2.subCategories, expected[i].subCategories);
        EXPECT_EQ (idText (info2.cid), expected[i].id);
        EXPECT_EQ (info2.cardinality, PClassInfo::kManyInstances);
        EXPECT_STREQ (info2.name, "Keyferry Receiver");
        EXPECT_EQ (info2.classFlags, 0u);
        EXPECT_STREQ (info2.vendor, "Halvork");
        EXPECT_STREQ (info2.version, "1.0.0");
        EXPECT_STREQ (info2.sdkVersion, "VST 3.7.12");

        EXPECT_EQ (text (infoW.name), "Keyferry Receiver");
        EXPECT_EQ (text (infoW.vendor), "Halvork");
        EXPECT_EQ (text (infoW.version), "1.0.0");
        EXPECT_EQ (text (infoW.sdkVersion), "VST 3.7.12");
        EXPECT_STREQ (infoW.subCategories, expected[i].subCategories);
        EXPECT_EQ (idText (infoW.cid), expected[i].id);
    }
}

TEST_F (Vst3Declarations, ComponentDeclaresStereoAudioAndSixteenChannelMidiBuses)
{
    createComponentAndController();

    const struct
    {
        Vst::MediaType type;
        Vst::BusDirection direction;
        const char* name;
        int32 channels;
    } buses[] = { { Vst::kAudio, Vst::kInput, "Input", 2 },
                  { Vst::kAudio, Vst::kOutput, "Output", 2 },
                  { Vst::kEvent, Vst::kInput, "MIDI Input", 16 },
                  { Vst::kEvent, Vst::kOutput, "MIDI Output", 16 } };

    for (const auto& bus : buses)
    {
        SCOPED_TRACE (bus.name);
        ASSERT_EQ (component->getBusCount (bus.type, bus.direction), 1);
        Vst::BusInfo info {};
        ASSERT_EQ (component->getBusInfo (bus.type, bus.direction, 0, info), kResultOk);
        EXPECT_EQ (text (info.name), bus.name);
        EXPECT_EQ (info.channelCount, bus.channels);
        EXPECT_EQ (info.busType, Vst::kMain);
        EXPECT_EQ (info.flags, static_cast<uint32> (Vst::BusInfo::kDefaultActive));
    }

    auto* processor = queryOrNull<Vst::IAudioProcessor> (component);
    ASSERT_NE (processor, nullptr);
    EXPECT_EQ (processor->canProcessSampleSize (Vst::kSample32), kResultTrue);
    EXPECT_NE (processor->canProcessSampleSize (Vst::kSample64), kResultTrue);
    EXPECT_EQ (processor->getLatencySamples(), 0u);
    EXPECT_EQ (processor->getTailSamples(), Vst::kNoTail);
    processor->release();
}

TEST_F (Vst3Declarations, ControllerHasBypassThenTheMidiControllerParameters)
{
    createComponentAndController();

    ASSERT_EQ (controller->getParameterCount(), 2081);

    Vst::ParameterInfo bypass {};
    ASSERT_EQ (controller->getParameterInfo (0, bypass), kResultOk);
    EXPECT_EQ (text (bypass.title), "Bypass");
    EXPECT_EQ (bypass.id, 0x62797073u);
    EXPECT_EQ (bypass.flags, Vst::ParameterInfo::kCanAutomate | Vst::ParameterInfo::kIsBypass);
    EXPECT_EQ (bypass.stepCount, 1);
    EXPECT_EQ (bypass.defaultNormalizedValue, 0.0);

    auto* mapping = queryOrNull<Vst::IMidiMapping> (controller);
    ASSERT_NE (mapping, nullptr);

    for (int32 k = 0; k < 16; ++k)
    {
        for (int32 n = 0; n < 130; ++n)
        {
            const auto position = 1 + k * 130 + n;
            Vst::ParameterInfo info {};
            ASSERT_EQ (controller->getParameterInfo (position, info), kResultOk);
            const auto expectedId = static_cast<Vst::ParamID> (0x6D636D00 + k * 130 + n);
            ASSERT_EQ (info.id, expectedId) << position;
            ASSERT_EQ (text (info.title), "MIDI CC " + std::to_string (k) + "|" + std::to_string (n));
            ASSERT_EQ (info.flags, 0) << position;
            ASSERT_EQ (info.stepCount, 0) << position;

            Vst::ParamID mapped = 0;
            ASSERT_EQ (mapping->getMidiControllerAssignment (0, static_cast<int16> (k), static_cast<Vst::CtrlNumber> (n), mapped), kResultOk);
            ASSERT_EQ (mapped, expectedId);
        }
    }
    mapping->release();
}

TEST_F (Vst3Declarations, OneRootUnitWithOneUnnamedFactoryPreset)
{
    createComponentAndController();
    auto* units = queryOrNull<Vst::IUnitInfo> (controller);
    ASSERT_NE (units, nullptr);

    ASSERT_EQ (units->getUnitCount(), 1);
    Vst::UnitInfo unit {};
    ASSERT_EQ (units->getUnitInfo (0, unit), kResultOk);
    EXPECT_EQ (unit.id, Vst::kRootUnitId);
    EXPECT_EQ (text (unit.name), "Root Unit");

    ASSERT_EQ (units->getProgramListCount(), 1);
    Vst::ProgramListInfo list {};
    ASSERT_EQ (units->getProgramListInfo (0, list), kResultOk);
    EXPECT_EQ (list.id, 0x70727374);
    EXPECT_EQ (text (list.name), "Factory Presets");
    EXPECT_EQ (list.programCount, 1);

    Vst::String128 name {};
    ASSERT_EQ (units->getProgramName (list.id, 0, name), kResultOk);
    EXPECT_EQ (text (name), "");
    units->release();
}

TEST_F (Vst3Declarations, StoredStateIsTheNameAZeroByteAndTheFrameworksTrailer)
{
    createComponentAndController();

    MemoryStream stream;
    ASSERT_EQ (component->getState (&stream), kResultOk);
    const auto state = streamBytes (stream);

    ASSERT_GE (state.size(), 11u + 15u);
    EXPECT_EQ (state.substr (0, 11), std::string ("Receiver 1\0", 11));
    EXPECT_EQ (state.substr (state.size() - 15), "JUCEPrivateData");

    // A foreign state without the trailer is read whole as a name, and saved back as one.
    MemoryStream foreign;
    int32 written = 0;
    foreign.write (const_cast<char*> ("Studio B"), 8, &written);
    foreign.seek (0, IBStream::kIBSeekSet, nullptr);
    ASSERT_EQ (component->setState (&foreign), kResultOk);

    MemoryStream again;
    ASSERT_EQ (component->getState (&again), kResultOk);
    EXPECT_EQ (streamBytes (again).substr (0, 9), std::string ("Studio B\0", 9));
}

TEST_F (Vst3Declarations, RestoringTheStoredStateGivesTheSameNameAndBypass)
{
    createComponentAndController();
    constexpr Vst::ParamID bypassId = 0x62797073;
    ASSERT_EQ (controller->setParamNormalized (bypassId, 1.0), kResultOk);

    MemoryStream stored;
    ASSERT_EQ (component->getState (&stored), kResultOk);

    Instance other (module.factory); // holds slot 1: "Receiver 2" until restored
    ASSERT_TRUE (other.isValid());
    stored.seek (0, IBStream::kIBSeekSet, nullptr);
    ASSERT_EQ (other.component->setState (&stored), kResultOk);
    stored.seek (0, IBStream::kIBSeekSet, nullptr);
    ASSERT_EQ (other.controller->setComponentState (&stored), kResultOk);

    MemoryStream restored;
    ASSERT_EQ (other.component->getState (&restored), kResultOk);
    EXPECT_EQ (streamBytes (restored), streamBytes (stored));
    EXPECT_EQ (streamBytes (restored).substr (0, 11), std::string ("Receiver 1\0", 11));
    EXPECT_EQ (other.controller->getParamNormalized (bypassId), 1.0);
}

TEST_F (Vst3Declarations, CompatibilityQueryIsAnEmptyArrayAndCostsTwoCounterSteps)
{
    createComponentAndController(); // makes sure the table file exists
    const auto before = changeCounterIn (home.tableFile());

    TUID cid;
    ASSERT_TRUE (tuidFrom (compatibilityId, cid));
    IPluginCompatibility* compatibility = nullptr;
    ASSERT_EQ (module.factory->createInstance (cid, IPluginCompatibility::iid, reinterpret_cast<void**> (&compatibility)), kResultOk);

    MemoryStream json;
    ASSERT_EQ (compatibility->getCompatibilityJSON (&json), kResultOk);
    compatibility->release();

    auto answer = streamBytes (json);
    answer.erase (std::remove_if (answer.begin(), answer.end(), [] (char c) { return std::isspace ((unsigned char) c) != 0; }), answer.end());
    EXPECT_EQ (answer, "[]");
    EXPECT_EQ (changeCounterIn (home.tableFile()), before + 2);
}

namespace
{
std::string hex (std::uint32_t value)
{
    char buffer[16];
    std::snprintf (buffer, sizeof (buffer), "0x%08X", value);
    return buffer;
}

std::string orNone (const std::string& value)
{
    return value.empty() ? "(empty)" : value;
}
} // namespace

// The README's table of what hosts see is rendered here from what the module declares, so the
// document cannot drift from the module.
TEST_F (Vst3Declarations, ReadmeTableIsWhatTheModuleDeclares)
{
    createComponentAndController();
    std::string table = "| What | Declared |\n|---|---|\n";
    const auto row = [&] (const std::string& what, std::string declared)
    {
        for (std::size_t at = 0; (at = declared.find ('|', at)) != std::string::npos; at += 2)
            declared.insert (at, "\\"); // a literal bar inside a table cell
        table += "| " + what + " | " + declared + " |\n";
    };

    PFactoryInfo factory {};
    module.factory->getFactoryInfo (&factory);
    row ("Factory vendor, URL, e-mail, flags",
         std::string (factory.vendor) + ", " + orNone (factory.url) + ", " + orNone (factory.email) + ", " + std::to_string (factory.flags));

    for (int32 i = 0; i < module.factory->countClasses(); ++i)
    {
        PClassInfo2 info {};
        factory2->getClassInfo2 (i, &info);
        row ("Class " + std::to_string (i), std::string (info.category) + ", sub-categories " + orNone (info.subCategories) + ", `"
                                                 + idText (info.cid) + "`");
        if (i == 0)
            row ("Every class", std::string (info.name) + ", " + info.vendor + ", version " + info.version + ", " + info.sdkVersion
                                    + ", cardinality " + hex (static_cast<std::uint32_t> (info.cardinality)) + ", flags "
                                    + std::to_string (info.classFlags));
    }

    for (const auto type : { Vst::kAudio, Vst::kEvent })
    {
        std::string buses;
        for (const auto direction : { Vst::kInput, Vst::kOutput })
        {
            Vst::BusInfo info {};
            component->getBusInfo (type, direction, 0, info);
            buses += (buses.empty() ? "" : ", ") + text (info.name) + " (" + std::to_string (info.channelCount) + " channels)";
        }
        row (type == Vst::kAudio ? "Audio buses" : "Event buses", buses);
    }

    Vst::ParameterInfo first {}, second {}, last {};
    const auto count = controller->getParameterCount();
    controller->getParameterInfo (0, first);
    controller->getParameterInfo (1, second);
    controller->getParameterInfo (count - 1, last);
    row ("Parameters", std::to_string (count) + ": " + text (first.title) + " (" + hex (first.id) + "), then " + text (second.title) + " ("
                           + hex (second.id) + ") to " + text (last.title) + " (" + hex (last.id) + ")");

    auto* units = queryOrNull<Vst::IUnitInfo> (controller);
    Vst::UnitInfo unit {};
    Vst::ProgramListInfo list {};
    units->getUnitInfo (0, unit);
    units->getProgramListInfo (0, list);
    units->release();
    row ("Units and programs", text (unit.name) + "; program list " + text (list.name) + " with " + std::to_string (list.programCount)
                                   + " program");

    std::ifstream readme (KEYFERRY_README);
    const std::string document ((std::istreambuf_iterator<char> (readme)), std::istreambuf_iterator<char>());
    EXPECT_NE (document.find (table), std::string::npos) << "README.md must hold this table as it is:\n" << table;
}
