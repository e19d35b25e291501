// The C API: a thin skin over the render layer. Every entry point catches what the layer throws
// and turns it into a status; nothing crosses the C boundary as an exception.
#include "rkv/rkv.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "render/song_renderer.hpp"
#include "render/song_report.hpp"
#include "song/song.hpp"

#define RKV_STRINGIFY2(x) #x
#define RKV_STRINGIFY(x) RKV_STRINGIFY2(x)

struct rkv_song {
    std::unique_ptr<rkv::render::SongRenderer> renderer;
    rkv_status status = RKV_OK;
    std::string error;
    std::vector<std::string> warnings;
    uint32_t tracksUsed = 0;
};

namespace {

using rkv::render::SongRenderer;

// A failure while opening, before a handle exists.
struct OpenError {
    rkv_status status;
    std::string message;
};

// Not std::to_string: its digit table is a unique global the library would export.
std::string number(long long n) {
    char text[24];
    std::snprintf(text, sizeof text, "%lld", n);
    return text;
}

void copyMessage(const std::string& text, char* message, std::size_t size) {
    if (!message || size == 0) return;
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(message, text.data(), n);
    message[n] = '\0';
}

rkv_status fail(rkv_song* song, rkv_status status, const std::string& message) {
    song->status = status;
    song->error = message;
    return status;
}

// Runs `body` on the handle, turning exceptions into the handle's last error.
template <typename Fn> rkv_status guarded(rkv_song* song, Fn body) {
    if (!song) return RKV_ERROR_ARGUMENT;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return fail(song, RKV_ERROR_OUT_OF_MEMORY, "out of memory");
    } catch (const std::exception& e) {
        return fail(song, RKV_ERROR_INTERNAL, e.what());
    }
}

template <typename Sample> std::size_t readFrames(rkv_song* song, Sample* buffer, std::size_t n) {
    std::size_t got = 0;
    if (!buffer) {
        if (song) fail(song, RKV_ERROR_ARGUMENT, "null buffer");
        return 0;
    }
    guarded(song, [&] {
        got = song->renderer->read(buffer, n);
        return RKV_OK;
    });
    return got;
}

rkv_status open(std::span<const std::uint8_t> bytes, rkv_song** out, char* message,
                std::size_t size) {
    if (!out) return RKV_ERROR_ARGUMENT;
    *out = nullptr;
    try {
        if (!rkv::hasSongMagic(bytes))
            throw OpenError{RKV_ERROR_NOT_A_SONG, "not a song file (no RKV magic)"};
        rkv::ParseResult parsed = rkv::parseSong(bytes);
        if (parsed.status != rkv::ParseStatus::Ok)
            throw OpenError{RKV_ERROR_REFUSED, "refused: " + parsed.reason};
        auto song = std::make_unique<rkv_song>();
        // The facts `rkv info` reports, taken before the song moves into the renderer.
        rkv::render::SongFile file{"", "", true, bytes.size(), std::move(parsed)};
        const nlohmann::json report =
            rkv::render::songReport(file, rkv::render::builtinDrumKitVoices(), 0);
        for (const nlohmann::json& w : report["warnings"])
            song->warnings.push_back(w["kind"].get<std::string>() + ": " +
                                     w["message"].get<std::string>());
        for (const nlohmann::json& t : report["tracks_used"])
            song->tracksUsed |= 1u << t.get<unsigned>();
        song->renderer = std::make_unique<SongRenderer>(std::move(file.parsed.song));
        *out = song.release();
        copyMessage("", message, size);
        return RKV_OK;
    } catch (const OpenError& e) {
        copyMessage(e.message, message, size);
        return e.status;
    } catch (const std::bad_alloc&) {
        copyMessage("out of memory", message, size);
        return RKV_ERROR_OUT_OF_MEMORY;
    } catch (const std::exception& e) {
        copyMessage(e.what(), message, size);
        return RKV_ERROR_INTERNAL;
    }
}

const SongRenderer* renderer(const rkv_song* song) {
    return song ? song->renderer.get() : nullptr;
}

const rkv::InstrumentRecord* instrument(const rkv_song* song, int32_t index) {
    if (!song || index < 0 || index >= rkv::INSTRUMENT_COUNT) return nullptr;
    return &song->renderer->song().header.instruments[static_cast<std::size_t>(index)];
}

} // namespace

extern "C" {

uint32_t rkv_version(void) {
    return RKV_VERSION_MAJOR << 16 | RKV_VERSION_MINOR << 8 | RKV_VERSION_PATCH;
}

const char* rkv_version_string(void) {
    return RKV_STRINGIFY(RKV_VERSION_MAJOR) "." RKV_STRINGIFY(RKV_VERSION_MINOR) "." RKV_STRINGIFY(
        RKV_VERSION_PATCH);
}

const char* rkv_status_text(rkv_status status) {
    switch (status) {
    case RKV_OK:
        return "ok";
    case RKV_ERROR_ARGUMENT:
        return "invalid argument";
    case RKV_ERROR_CANNOT_READ:
        return "cannot read";
    case RKV_ERROR_NOT_A_SONG:
        return "not a song file";
    case RKV_ERROR_REFUSED:
        return "refused";
    case RKV_ERROR_OUT_OF_MEMORY:
        return "out of memory";
    case RKV_ERROR_INTERNAL:
        return "internal error";
    }
    return "unknown status";
}

rkv_status rkv_open_memory(const void* data, size_t size, rkv_song** song, char* message,
                           size_t message_size) {
    if (!data && size > 0) {
        copyMessage("null data", message, message_size);
        if (song) *song = nullptr;
        return RKV_ERROR_ARGUMENT;
    }
    return open({static_cast<const std::uint8_t*>(data), size}, song, message, message_size);
}

rkv_status rkv_open_file(const char* path, rkv_song** song, char* message, size_t message_size) {
    if (song) *song = nullptr;
    if (!path || !song) {
        copyMessage("null argument", message, message_size);
        return RKV_ERROR_ARGUMENT;
    }
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        copyMessage(std::string(path) + ": cannot open: " + std::strerror(errno), message,
                    message_size);
        return RKV_ERROR_CANNOT_READ;
    }
    std::vector<std::uint8_t> bytes;
    try {
        std::uint8_t chunk[65536];
        std::size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
    } catch (const std::bad_alloc&) {
        std::fclose(f);
        copyMessage("out of memory", message, message_size);
        return RKV_ERROR_OUT_OF_MEMORY;
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        copyMessage(std::string(path) + ": cannot read", message, message_size);
        return RKV_ERROR_CANNOT_READ;
    }
    return open(bytes, song, message, message_size);
}

void rkv_close(rkv_song* song) {
    delete song;
}

rkv_status rkv_last_status(const rkv_song* song) {
    return song ? song->status : RKV_ERROR_ARGUMENT;
}

const char* rkv_last_error(const rkv_song* song) {
    return song ? song->error.c_str() : "null handle";
}

rkv_status rkv_set_rate(rkv_song* song, int32_t hz) {
    return guarded(song, [&] {
        if (hz < RKV_MIN_RATE || hz > RKV_MAX_RATE)
            return fail(song, RKV_ERROR_ARGUMENT,
                        "rate " + number(hz) + " Hz is outside " + number(RKV_MIN_RATE) + ".." +
                            number(RKV_MAX_RATE));
        song->renderer->setRate(hz);
        return RKV_OK;
    });
}

int32_t rkv_rate(const rkv_song* song) {
    return song ? song->renderer->rate() : 0;
}

rkv_status rkv_set_repeat(rkv_song* song, int32_t repeat) {
    return guarded(song, [&] {
        if (repeat < 0 && repeat != RKV_FOREVER)
            return fail(song, RKV_ERROR_ARGUMENT,
                        "repeat " + number(repeat) + " is neither a count nor for ever");
        song->renderer->setRepeat(repeat == RKV_FOREVER ? SongRenderer::FOREVER
                                                        : static_cast<std::uint64_t>(repeat));
        return RKV_OK;
    });
}

int32_t rkv_repeat(const rkv_song* song) {
    if (!song) return 0;
    const std::uint64_t loops = song->renderer->repeat();
    return loops == SongRenderer::FOREVER ? RKV_FOREVER : static_cast<int32_t>(loops);
}

uint64_t rkv_length_frames(const rkv_song* song) {
    return song ? song->renderer->length() : 0;
}

size_t rkv_read_s16(rkv_song* song, int16_t* buffer, size_t frames) {
    return readFrames(song, buffer, frames);
}

size_t rkv_read_f32(rkv_song* song, float* buffer, size_t frames) {
    return readFrames(song, buffer, frames);
}

rkv_status rkv_seek_frame(rkv_song* song, uint64_t frame) {
    return guarded(song, [&] {
        song->renderer->seekFrame(frame);
        return RKV_OK;
    });
}

rkv_status rkv_seek_seconds(rkv_song* song, double seconds) {
    return guarded(song, [&] {
        const double frame = seconds * song->renderer->rate();
        if (!std::isfinite(frame) || frame < 0)
            return fail(song, RKV_ERROR_ARGUMENT, "seconds must be finite and not negative");
        // Anything past 2^64 frames is past the end anyway.
        song->renderer->seekFrame(frame >= 18446744073709551615.0
                                      ? UINT64_MAX
                                      : static_cast<std::uint64_t>(std::llround(frame)));
        return RKV_OK;
    });
}

rkv_status rkv_position_get(const rkv_song* song, rkv_position* position) {
    if (!song || !position) return RKV_ERROR_ARGUMENT;
    const rkv::render::Position p = song->renderer->position();
    position->frame = p.frame;
    position->step = p.step;
    position->ring_out = p.ringOut ? 1 : 0;
    position->pass = p.pass;
    return RKV_OK;
}

uint32_t rkv_step_time_ms(const rkv_song* song) {
    return song ? renderer(song)->song().header.stepTime : 0;
}

int32_t rkv_step_count(const rkv_song* song) {
    return song ? renderer(song)->song().header.stepCount : 0;
}

int32_t rkv_loop_start(const rkv_song* song) {
    return song ? renderer(song)->song().header.loopStart : 0;
}

int32_t rkv_loop_end(const rkv_song* song) {
    return song ? renderer(song)->song().header.loopEnd : 0;
}

int32_t rkv_loop_wraps_to(const rkv_song* song) {
    return song ? renderer(song)->timing().loopStart : 0;
}

int32_t rkv_loop_last_step(const rkv_song* song) {
    return song ? renderer(song)->timing().lastStep : 0;
}

int32_t rkv_instrument_octave(const rkv_song* song, int32_t index) {
    const rkv::InstrumentRecord* in = instrument(song, index);
    return in ? in->octave : -1;
}

int32_t rkv_instrument_note_length(const rkv_song* song, int32_t index) {
    const rkv::InstrumentRecord* in = instrument(song, index);
    return in ? static_cast<int32_t>(std::min<std::uint32_t>(in->noteLength, INT32_MAX)) : -1;
}

int32_t rkv_instrument_volume(const rkv_song* song, int32_t index) {
    const rkv::InstrumentRecord* in = instrument(song, index);
    return in ? in->volume : -1;
}

int32_t rkv_instrument_sounds(const rkv_song* song, int32_t index) {
    if (!instrument(song, index)) return -1;
    const auto voices = rkv::render::instrumentVoices(song->renderer->song().header,
                                                      song->renderer->drumKit().bytes);
    return voices[static_cast<std::size_t>(index)] == rkv::render::InstrumentVoices::Sounding;
}

uint32_t rkv_tracks_used(const rkv_song* song) {
    return song ? song->tracksUsed : 0;
}

size_t rkv_warning_count(const rkv_song* song) {
    return song ? song->warnings.size() : 0;
}

const char* rkv_warning_text(const rkv_song* song, size_t index) {
    return song && index < song->warnings.size() ? song->warnings[index].c_str() : nullptr;
}

} // extern "C"
