#include "audio/sdl_library.hpp"

#include "system/dynamic_library.hpp"

namespace rkv {

namespace {

struct Loaded {
    SdlLibrary calls{};
    bool ok = false;
    std::string error;
};

Loaded load() {
    Loaded l;
    // The runtime's versioned name: the one every SDL 2 package installs.
    DynamicLibrary library("libSDL2-2.0.so.0");
    SdlLibrary& c = l.calls;
    l.ok = library.find("SDL_SetHint", c.setHint) &&
           library.find("SDL_InitSubSystem", c.initSubSystem) &&
           library.find("SDL_QuitSubSystem", c.quitSubSystem) &&
           library.find("SDL_GetError", c.getError) &&
           library.find("SDL_OpenAudioDevice", c.openAudioDevice) &&
           library.find("SDL_CloseAudioDevice", c.closeAudioDevice) &&
           library.find("SDL_PauseAudioDevice", c.pauseAudioDevice) &&
           library.find("SDL_LockAudioDevice", c.lockAudioDevice) &&
           library.find("SDL_UnlockAudioDevice", c.unlockAudioDevice) &&
           library.find("SDL_GetAudioDeviceStatus", c.getAudioDeviceStatus);
    if (!l.ok) l.error = library.error();
    return l;
}

} // namespace

const SdlLibrary* sdlLibrary(std::string& error) {
    static const Loaded loaded = load();
    if (!loaded.ok) error = loaded.error;
    return loaded.ok ? &loaded.calls : nullptr;
}

} // namespace rkv
