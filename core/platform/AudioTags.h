#pragma once
// The descriptive tags of an audio file: title, artist and album.
#include <QString>
#include <optional>

namespace zelvo {

struct AudioTags {
    // Present only when the file holds that tag; values as stored (not
    // trimmed, an empty value stays present).
    std::optional<QString> title;
    std::optional<QString> artist;
    std::optional<QString> album;

    friend bool operator==(const AudioTags&, const AudioTags&) = default;
};

// Reads the tags of the file at `path`: the container's tags, then those of
// its main audio stream, a later value of the same tag replacing an earlier
// one. Never fails: an unreadable or unknown file gives no tags. Blocks on file
// I/O; call it off the main thread. Any thread.
AudioTags readTags(const QString& path);

} // namespace zelvo
