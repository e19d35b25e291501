#include "audio/sdl_library.hpp"

#include <dlfcn.h>

namespace rkv {

namespace {

struct Loaded {
    SdlLibrary calls{};
    bool ok = false;
    std::string error;
};

template <typename Function> bool find(void* library, const char* name, Function& into) {
    into = reinterpret_cast<Function>(dlsym(library, name));
    return into != nullptr;
}

Loaded load() {
    Loaded l;
    // The runtime's versioned name: the one every SDL 2 package installs.
    void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        l.error = why ? why : "cannot load libSDL2-2.0.so.0";
        return l;
    }
    SdlLibrary& c = l.calls;
    l.ok = find(library, "SDL_SetHint", c.setHint) &&
           find(library, "SDL_InitSubSystem", c.initSubSystem) &&
           find(library, "SDL_QuitSubSystem", c.quitSubSystem) &&
           find(library, "SDL_GetError", c.getError) &&
           find(library, "SDL_OpenAudioDevice", c.openAudioDevice) &&
           find(library, "SDL_CloseAudioDevice", c.closeAudioDevice) &&
           find(library, "SDL_PauseAudioDevice", c.pauseAudioDevice) &&
           find(library, "SDL_LockAudioDevice", c.lockAudioDevice) &&
           find(library, "SDL_UnlockAudioDevice", c.unlockAudioDevice) &&
           find(library, "SDL_GetAudioDeviceStatus", c.getAudioDeviceStatus);
    // Kept loaded for the rest of the process, as a linked library would be.
    if (!l.ok) l.error = "libSDL2-2.0.so.0 lacks an audio call";
    return l;
}

} // namespace

const SdlLibrary* sdlLibrary(std::string& error) {
    static const Loaded loaded = load();
    if (!loaded.ok) error = loaded.error;
    return loaded.ok ? &loaded.calls : nullptr;
}

} // namespace rkv
