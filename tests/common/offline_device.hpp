// A sound device that always opens and never pulls frames: voices can be created while the test
// calls mixFrames itself, and no tick moves the position behind the test's back.
#pragma once

#include "sound/voice_bank.hpp"

namespace rkv::test {

class OfflineDevice final : public SoundDevice {
  public:
    bool start(VoiceBank&) override { return true; }
    void stop() override {}
};

} // namespace rkv::test
