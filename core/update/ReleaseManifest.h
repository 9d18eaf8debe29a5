#pragma once
// The signed list of a release's files. A release folder ("KavriZelvo", holding
// bin/ and share/kavri-zelvo/) carries share/kavri-zelvo/release.manifest: one
// line per folder and file of the release (the manifest and its signature
// excepted) with its kind, permission bits and SHA-256, sorted by the bytes of
// its relative path. The publisher signs the manifest; a copy is trusted only
// when the signature holds and its tree equals the manifest exactly. See
// docs/release-manifest.md for the format. Any thread (it reads every file).
#include <QByteArray>
#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace zelvo::ReleaseManifest {

// Paths inside a release folder.
inline constexpr const char* manifestPath = "share/kavri-zelvo/release.manifest";
inline constexpr const char* signaturePath = "share/kavri-zelvo/release.manifest.minisig";
inline constexpr const char* publicKeyPath = "share/kavri-zelvo/update.pub";

// The text of a failed check: this prefix and the first path that differs.
inline constexpr const char* mismatchPrefix = "files don't match the signed list: ";

struct Entry {
    std::string path;   // relative, "/"-separated, as the file system's bytes
    bool folder = false;
    unsigned mode = 0;  // permission bits (07777)
    std::string sha256; // lower-case hexadecimal; empty for folders
    bool operator==(const Entry&) const = default;
};

// The manifest text of `entries` (sorted by path bytes first).
QByteArray format(std::vector<Entry> entries);
// The entries of a manifest text, or nothing when any line is malformed, a
// path repeats or the paths are out of order.
std::optional<std::vector<Entry>> parse(const QByteArray& text);

// Writes the manifest of the release folder `root`, describing its current
// tree. Returns the error text, empty on success.
QString write(const QString& root);

// Compares the tree under `root` with its manifest. Empty when they are equal;
// otherwise "files don't match the signed list: " and the first path (in path
// order) that is missing, added, of another kind or mode, changed, or a
// symbolic link or special file. `root` itself must be a real folder.
QString check(const QString& root);

} // namespace zelvo::ReleaseManifest
