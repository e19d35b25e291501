// SDL, loaded the first time a device is opened: `rkv render` and `rkv info` never play, and
// loading SDL with the libraries it pulls in was a tenth of a whole render's time.
#pragma once

#include <SDL.h>
#include <string>

namespace rkv {

struct SdlLibrary {
    decltype(&SDL_SetHint) setHint;
    decltype(&SDL_InitSubSystem) initSubSystem;
    decltype(&SDL_QuitSubSystem) quitSubSystem;
    decltype(&SDL_GetError) getError;
    decltype(&SDL_OpenAudioDevice) openAudioDevice;
    decltype(&SDL_CloseAudioDevice) closeAudioDevice;
    decltype(&SDL_PauseAudioDevice) pauseAudioDevice;
    decltype(&SDL_LockAudioDevice) lockAudioDevice;
    decltype(&SDL_UnlockAudioDevice) unlockAudioDevice;
    decltype(&SDL_GetAudioDeviceStatus) getAudioDeviceStatus;
};

// The library's calls, loaded once for the whole process; null, with the reason in `error`, when
// it cannot be loaded.
const SdlLibrary* sdlLibrary(std::string& error);

} // namespace rkv
