#pragma once
// A release's version number: dot-separated whole numbers ("1.4.2"), ordered
// numerically with missing trailing parts counting as 0, so 1.2 == 1.2.0 and
// 1.10 > 1.9. Value type; any thread.
#include <QString>
#include <QStringView>
#include <compare>
#include <cstdint>
#include <optional>
#include <vector>

namespace zelvo {

class ReleaseVersion {
public:
    // The version in `text`: spaces and tabs around it are ignored, as is one
    // leading "v" or "V"; empty pieces are dropped ("1..2" is 1.2). Nothing when
    // a piece is not a base-10 integer that fits 64 bits, or no piece is left.
    static std::optional<ReleaseVersion> parse(QStringView text);

    // At least one element.
    const std::vector<std::int64_t>& parts() const { return parts_; }
    // The parts in decimal joined with "." (no leading v).
    QString description() const;

    friend std::strong_ordering operator<=>(const ReleaseVersion& a, const ReleaseVersion& b);
    friend bool operator==(const ReleaseVersion& a, const ReleaseVersion& b)
    {
        return (a <=> b) == std::strong_ordering::equal;
    }

private:
    explicit ReleaseVersion(std::vector<std::int64_t> parts) : parts_(std::move(parts)) {}
    std::vector<std::int64_t> parts_;
};

} // namespace zelvo
