// The table built into the binaries holds exactly what resources.rc lists, with the bytes of
// the files on disk, and the lookup finds entries in it by name and type.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "file_bytes.hpp"
#include "resources/builtin_resources.hpp"

namespace {

struct ScriptLine {
    std::string name, type, file;
};

// A reading of the resource script of our own: NAME TYPE "file", comments and blanks skipped.
std::vector<ScriptLine> readScript() {
    std::ifstream in(std::string(RKV_RESOURCE_DIR) + "/resources.rc");
    std::vector<ScriptLine> lines;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        ScriptLine l;
        if (!(words >> l.name) || l.name.starts_with("//") || l.name.starts_with("#")) continue;
        words >> l.type >> l.file;
        if (l.file.size() >= 2 && l.file.front() == '"' && l.file.back() == '"')
            l.file = l.file.substr(1, l.file.size() - 2);
        lines.push_back(l);
    }
    return lines;
}

const rkv::ResourceEntry* entryFor(const rkv::ResourceTable& table, const ScriptLine& l) {
    for (std::size_t i = 0; i < table.count; ++i)
        if (l.name == table.entries[i].name && l.type == table.entries[i].type)
            return &table.entries[i];
    return nullptr;
}

TEST(BuiltinResources, HoldEveryScriptEntryWithTheBytesOfItsFile) {
    const std::vector<ScriptLine> script = readScript();
    const rkv::ResourceTable& table = rkv::builtinResources();
    EXPECT_EQ(table.count, script.size()) << "the table must list nothing the script does not";
    for (const ScriptLine& l : script) {
        SCOPED_TRACE(l.name + " " + l.type);
        const rkv::ResourceEntry* e = entryFor(table, l);
        ASSERT_NE(e, nullptr);
        const rkvtest::Bytes onDisk =
            rkvtest::readFile(std::string(RKV_RESOURCE_DIR) + "/" + l.file);
        ASSERT_FALSE(onDisk.empty());
        ASSERT_EQ(e->size, onDisk.size());
        EXPECT_EQ(rkvtest::Bytes(e->data, e->data + e->size), onDisk);
    }
}

TEST(BuiltinResources, NameTheSoundsPictureAndIconAsThePlayerExpects) {
    const std::vector<ScriptLine> script = readScript();
    auto has = [&](const std::string& name, const std::string& type) {
        for (const ScriptLine& l : script)
            if (l.name == name && l.type == type) return true;
        return false;
    };
    for (const char* drum : {"BASS1", "BASS2", "SNARE1", "HAT1", "HAT2", "SYMBAL1"})
        EXPECT_TRUE(has(drum, "WAVE")) << drum;
    EXPECT_TRUE(has("TITLE", "BITMAP"));
    EXPECT_TRUE(has("ICON", "ICON"));
}

TEST(BuiltinResources, AreFoundByNameAndType) {
    const rkv::ResourceTable& table = rkv::builtinResources();
    const auto hat = rkv::findResource(table, "HAT2", "WAVE");
    const rkvtest::Bytes onDisk = rkvtest::readFile(std::string(RKV_RESOURCE_DIR) + "/HAT2.wav");
    ASSERT_EQ(hat.size(), onDisk.size());
    EXPECT_EQ(rkvtest::Bytes(hat.begin(), hat.end()), onDisk);
    EXPECT_TRUE(rkv::findResource(table, "HAT2", "BITMAP").empty());
    EXPECT_TRUE(rkv::findResource(table, "HAT3", "WAVE").empty());
    EXPECT_FALSE(rkv::findResource(table, "TITLE", "BITMAP").empty());
}

} // namespace
