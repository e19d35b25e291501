// Shared pieces of the player's Qt tests: a player with a device that lets voices exist, song
// files in a temporary folder, and a stand-in for the dialogs.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

#include "app/song_dialogs.hpp"
#include "app/test_song.hpp"
#include "resources/builtin_resources.hpp"
#include "sequencer/player.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"
#include "sound/voice_bank.hpp"
#include "tests/common/offline_device.hpp"

// Readable QStrings in GoogleTest's failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    PrintTo(list.join(QStringLiteral("\", \"")), os);
}

namespace rkvtest {

// Counts the dialogs asked for, which the user always cancels.
class FakeDialogs final : public rkv::SongDialogs {
  public:
    int asked = 0;
    std::function<void()> onOpen; // runs while the dialog is "open"

    bool chooseSongFile(QString&) override {
        ++asked;
        if (onOpen) onOpen();
        return false;
    }
    void showInvalidFile() override {}
};

class PlayerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        player = std::make_unique<rkv::Player>();
        player->resources = rkv::builtinResources();
        ASSERT_EQ(rkv::initSoundDevice(player->bank, &device), 1);
        rkv::loadDrumKit(player->bank, player->state, player->resources);
    }

    QString writeSong(const QString& name, const std::vector<std::uint8_t>& bytes) {
        const QString path = folder.filePath(name);
        EXPECT_TRUE(writeFile(QFile::encodeName(path).toStdString(), bytes));
        return path;
    }

    // Loads a song straight through the load command, as if a dialog had chosen it.
    void loadDirectly(const QString& path) {
        rkv::LoadOutcome outcome;
        rkv::transportCommand(*player, rkv::TRANSPORT_LOAD, QFile::encodeName(path).constData(),
                              &outcome);
        ASSERT_EQ(outcome.status, rkv::LoadStatus::Loaded) << outcome.reason;
    }

    // The clock's period in ms while it runs, 0 when it is stopped.
    std::uint32_t runningClock() const {
        const std::lock_guard<std::recursive_mutex> guard(player->bank.lock);
        return player->bank.timer.running ? player->bank.timer.periodMs : 0;
    }

    QTemporaryDir folder;
    rkv::test::OfflineDevice device;
    std::unique_ptr<rkv::Player> player;
    FakeDialogs dialogs;
};

} // namespace rkvtest
