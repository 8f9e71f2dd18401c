#pragma once

// The built bundle opened the way a VST3 host opens it on Linux, with the SDK's interfaces only
// and none of the framework: dlopen the module in the bundle's Contents/<arch>-linux folder,
// ModuleEntry, GetPluginFactory, and ModuleExit at the end.

#include <pluginterfaces/base/ipluginbase.h>

#include <dlfcn.h>
#include <string>

class Vst3Module
{
public:
    explicit Vst3Module (const std::string& bundle)
    {
        const auto name = bundle.substr (bundle.find_last_of ('/') + 1);
        const auto binary = bundle + "/Contents/x86_64-linux/" + name.substr (0, name.size() - 5) + ".so";
        handle = ::dlopen (binary.c_str(), RTLD_NOW | RTLD_LOCAL);

        if (handle == nullptr)
        {
            error = ::dlerror();
            return;
        }

        using Entry = bool (*) (void*);
        using GetFactory = Steinberg::IPluginFactory* (PLUGIN_API*) ();
        auto entry = reinterpret_cast<Entry> (::dlsym (handle, "ModuleEntry"));
        auto getFactory = reinterpret_cast<GetFactory> (::dlsym (handle, "GetPluginFactory"));

        if (entry == nullptr || getFactory == nullptr || ! entry (handle))
        {
            error = "ModuleEntry or GetPluginFactory missing or failing";
            return;
        }

        entered = true;
        factory = getFactory();
    }

    ~Vst3Module()
    {
        if (factory != nullptr)
            factory->release();

        if (entered)
            if (auto exitModule = reinterpret_cast<bool (*)()> (::dlsym (handle, "ModuleExit")))
                exitModule();

        if (handle != nullptr)
            ::dlclose (handle);
    }

    Vst3Module (const Vst3Module&) = delete;
    Vst3Module& operator= (const Vst3Module&) = delete;

    void* handle = nullptr;
    bool entered = false;
    Steinberg::IPluginFactory* factory = nullptr;
    std::string error;
};
