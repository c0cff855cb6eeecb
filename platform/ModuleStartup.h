// Ordered start-up of the module's process-wide objects. Each object's translation unit
// defines a StartupRegistrar; ModuleLoad() runs the steps in (slot, order) order and
// ModuleUnload() tears them down in reverse. Static initialisation order across
// translation units is unspecified, so nothing process-wide is built by a constructor.
//
// Registrars live in static libraries: whatever links them must keep their objects
// (CMake: $<LINK_LIBRARY:WHOLE_ARCHIVE,lib>), or the linker drops them silently.
#pragma once

#include "platform/Kernel.h"

#include <functional>
#include <string>
#include <vector>

class StartupRegistry {
public:
    using Step = std::function<void()>;

    // Adds a step; a (slot, order) already present marks the registry failed.
    void add(int slot, int order, const std::string& name, Step init, Step teardown);
    // Runs every init in (slot, order) order, once; false when a key was duplicated or
    // an init threw (the steps already run are torn down again).
    bool load();
    // Tears down in reverse order of what load() ran; a second call does nothing.
    void unload();
    bool loaded() const { return loaded_; }
    std::vector<std::string> names() const;

    static StartupRegistry& global();

private:
    struct Entry {
        int slot;
        int order;
        std::string name;
        Step init;
        Step teardown;
    };
    std::vector<Entry> entries_;
    std::vector<const Entry*> ran_;
    bool duplicate_ = false;
    bool loaded_ = false;
};

struct StartupRegistrar {
    StartupRegistrar(int slot, int order, const char* name, StartupRegistry::Step init,
                     StartupRegistry::Step teardown);
};

// The module's entry points for load and unload; ModuleLoad is idempotent while loaded.
bool ModuleLoad();
void ModuleUnload();

// The module handle that resource loads and window classes pass: what the module
// recorded with SetModuleInstance, else the main program's handle.
void SetModuleInstance(HINSTANCE instance);
HINSTANCE ModuleInstance();
