#pragma once
// The error every audio-file and audio-unit step throws: either a platform call
// that failed (the step and its status code) or a file that holds no audio.
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>

namespace zelvo {

class AudioFileError final : public std::exception {
public:
    enum class Kind { os, empty };

    // A step that failed with a platform status (an FFmpeg error code, a
    // libsndfile error number, an ALSA error). Any thread.
    static AudioFileError os(std::string step, std::int32_t status);
    // A file that opened but holds no audio (no audio stream, or no frames). Any thread.
    static AudioFileError empty(std::filesystem::path url);

    Kind kind() const noexcept { return kind_; }
    // The failed step ("open song.mp3", "seek", "write"); empty for `empty`.
    const std::string& step() const noexcept { return step_; }
    // The platform status; 0 for `empty`.
    std::int32_t status() const noexcept { return status_; }
    // The file location; empty for `os`.
    const std::filesystem::path& url() const noexcept { return url_; }

    // The user-facing text: "<step> failed (<fourCC(status)>)" or
    // "<file name> holds no audio". Any thread.
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    AudioFileError(Kind kind, std::string step, std::int32_t status, std::filesystem::path url);

    Kind kind_;
    std::string step_;
    std::int32_t status_;
    std::filesystem::path url_;
    std::string description_;
};

// Formats a platform status: its four bytes (most significant first) as
// characters when every one is an ASCII letter, digit or space, else the status
// as a signed decimal number. Any thread.
std::string fourCC(std::int32_t status);

} // namespace zelvo
