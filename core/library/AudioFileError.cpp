#include "library/AudioFileError.h"

#include <utility>

namespace zelvo {

namespace {
bool printable(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ';
}
} // namespace

std::string fourCC(std::int32_t status)
{
    const auto bits = std::uint32_t(status);
    std::string chars;
    for (int shift : {24, 16, 8, 0}) {
        const auto c = static_cast<unsigned char>((bits >> shift) & 0xFF);
        if (!printable(c))
            return std::to_string(status);
        chars.push_back(char(c));
    }
    return chars;
}

AudioFileError::AudioFileError(Kind kind, std::string step, std::int32_t status, std::filesystem::path url)
    : kind_(kind), step_(std::move(step)), status_(status), url_(std::move(url))
{
    if (kind_ == Kind::os)
        description_ = step_ + " failed (" + fourCC(status_) + ")";
    else
        description_ = url_.filename().string() + " holds no audio";
}

AudioFileError AudioFileError::os(std::string step, std::int32_t status)
{
    return AudioFileError(Kind::os, std::move(step), status, {});
}

AudioFileError AudioFileError::empty(std::filesystem::path url)
{
    return AudioFileError(Kind::empty, {}, 0, std::move(url));
}

} // namespace zelvo
