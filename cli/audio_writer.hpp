// Writes rendered frames to an audio file: optional fade-out, optional resampling, then WAV, FLAC
// or Ogg Vorbis. A file appears under its name only once it is complete; standard output gets a
// WAV streamed block by block, its header carrying the length known in advance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace rkv::cli {

enum class Container { Wav, Flac, Ogg };

struct OutputFormat {
    Container container = Container::Wav;
    bool floatSamples = false; // 32-bit float WAV instead of 16-bit PCM
    int rate = 22050;
};

// The format for an output path, by its extension ("-" is standard output, always WAV). Throws
// CliError (usage) for an unknown extension or a combination that cannot be written.
OutputFormat outputFormatFor(const std::string& path, bool floatSamples, int rate);

class AudioWriter {
  public:
    // `frames` is how many 22050 Hz frames will be written, which places the fade-out.
    AudioWriter(const std::string& path, const OutputFormat& format, std::uint64_t frames,
                std::uint64_t fadeFrames);
    ~AudioWriter(); // removes any unfinished output
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Interleaved stereo floats at 22050 Hz; may scale them in place for the fade.
    void write(float* stereo, std::size_t frames);
    // Flushes and puts the file in place. Throws CliError (cannot write) on failure.
    void finish();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace rkv::cli
