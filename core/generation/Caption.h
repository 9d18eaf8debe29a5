#pragma once
// Prompt captions in the one shape the model was trained on: a header naming
// track type, vocal type and genre, then a free description, with the source
// track's key and tempo added.
#include "library/BeatGrid.h"
#include "library/MusicalKey.h"

#include <QString>
#include <optional>

namespace zelvo::Caption {

// The caption header; a genre and ". " follow it.
inline constexpr const char* header = "TrackType: Music, VocalType: Instrumental, Genre: ";

// The text trimmed, stripped of trailing ".", "," and ";", its first character
// upper-cased and one "." appended. Any thread.
QString sentence(const QString& text);
// header + genre + ". " + sentence(description). Any thread.
QString make(const QString& genre, const QString& description);
// The caption the model knows best (the default prompt). Any thread.
const QString& trained();
// The caption sent to the model for the user's text: empty text gives trained(),
// text starting with "TrackType:" is taken as a whole caption, anything else is
// the description of the default genre; the key ("in Ab minor") and the rounded
// tempo ("124 BPM") are appended when known. Any thread.
QString prompt(const QString& text, const std::optional<BeatGrid>& grid, const std::optional<MusicalKey>& key);

} // namespace zelvo::Caption
