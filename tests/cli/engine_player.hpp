// A player started by hand with the engine's own operations, independent of the tool's setup.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "cli/session.hpp"
#include "resources/builtin_resources.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"

namespace rkvtest {

inline std::unique_ptr<rkv::Player> loadedPlayer(const std::string& path) {
    auto player = std::make_unique<rkv::Player>();
    // The bank keeps a pointer to its device (play wakes it), so the device must outlive the call.
    static rkv::cli::OfflineDevice device;
    rkv::initSoundDevice(player->bank, &device);
    player->resources = rkv::builtinResources();
    rkv::loadDrumKit(player->bank, player->state, player->resources);
    rkv::LoadOutcome outcome;
    rkv::transportCommand(*player, rkv::TRANSPORT_LOAD, path.c_str(), &outcome);
    EXPECT_EQ(outcome.status, rkv::LoadStatus::Loaded) << outcome.reason;
    return player;
}

} // namespace rkvtest
