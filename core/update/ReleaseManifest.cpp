#include "update/ReleaseManifest.h"

#include "platform/AtomicFile.h"
#include "update/FileDigest.h"

#include <QFile>
#include <algorithm>
#include <filesystem>
#include <system_error>

namespace zelvo::ReleaseManifest {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeader = "kavri-zelvo release manifest 1";
// No release lists anywhere near this many bytes of names.
constexpr qint64 kLargestManifest = 64 * 1024 * 1024;

enum class Kind { file, folder, special };

struct Found {
    std::string path;
    Kind kind = Kind::file;
    unsigned mode = 0;
};

struct Walk {
    std::vector<Found> found;  // sorted by path bytes
    std::string unreadable;    // a folder that could not be listed, if any
    QString reason;
};

fs::path native(const QString& path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

QString display(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

bool isOwnFile(const std::string& relative)
{
    return relative == manifestPath || relative == signaturePath;
}

// Every entry under `root`, symbolic links not followed. The manifest and its
// signature are left out.
Walk walk(const fs::path& root)
{
    Walk result;
    std::error_code error;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, error);
    const fs::recursive_directory_iterator end;
    std::string last = ".";
    while (!error && it != end) {
        const fs::path path = it->path();
        last = path.lexically_relative(root).generic_string();
        const std::string relative = path.lexically_relative(root).generic_string();
        const fs::file_status status = fs::symlink_status(path, error);
        if (error)
            break;
        Found entry{relative, Kind::special, unsigned(status.permissions()) & 07777u};
        if (fs::is_regular_file(status))
            entry.kind = Kind::file;
        else if (fs::is_directory(status))
            entry.kind = Kind::folder;
        if (!isOwnFile(relative))
            result.found.push_back(std::move(entry));
        it.increment(error);
    }
    if (error) {
        // An increment that fails was entering the last folder seen.
        result.unreadable = last;
        result.reason = QString::fromStdString(error.message());
    }
    std::sort(result.found.begin(), result.found.end(),
              [](const Found& a, const Found& b) { return a.path < b.path; });
    return result;
}

QByteArray escape(const std::string& path)
{
    QByteArray out;
    out.reserve(qsizetype(path.size()));
    for (const char c : path) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::optional<std::string> unescape(QByteArrayView text)
{
    std::string out;
    out.reserve(std::size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        if (text[i] == '\\')
            out += '\\';
        else if (text[i] == 'n')
            out += '\n';
        else
            return std::nullopt;
    }
    return out;
}

bool safeRelative(const std::string& path)
{
    if (path.empty() || path.front() == '/' || path.find('\0') != std::string::npos)
        return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        const std::string_view part(path.data() + start, (slash == std::string::npos ? path.size() : slash) - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

bool isLowerHex(QByteArrayView text)
{
    if (text.size() != 64)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

QString mismatch(const QString& path)
{
    return QString::fromLatin1(mismatchPrefix) + path;
}

} // namespace

QByteArray format(std::vector<Entry> entries)
{
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.path < b.path; });
    QByteArray text(kHeader);
    text += '\n';
    for (const Entry& entry : entries) {
        text += entry.folder ? "d " : "f ";
        text += QByteArray::number(entry.mode & 07777u, 8).rightJustified(4, '0');
        text += ' ';
        text += entry.folder ? QByteArray("-") : QByteArray::fromStdString(entry.sha256);
        text += ' ';
        text += escape(entry.path);
        text += '\n';
    }
    return text;
}

std::optional<std::vector<Entry>> parse(const QByteArray& text)
{
    if (!text.endsWith('\n'))
        return std::nullopt;
    const QList<QByteArray> lines = text.left(text.size() - 1).split('\n');
    if (lines.isEmpty() || lines.front() != kHeader)
        return std::nullopt;
    std::vector<Entry> entries;
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const QByteArray& line = lines[n];
        // "<d|f> <4 octal digits> <digest or -> <path>"
        if (line.size() < 9 || (line[0] != 'd' && line[0] != 'f') || line[1] != ' ' || line[6] != ' ')
            return std::nullopt;
        Entry entry;
        entry.folder = line[0] == 'd';
        for (qsizetype i = 2; i < 6; ++i) {
            if (line[i] < '0' || line[i] > '7')
                return std::nullopt;
            entry.mode = entry.mode * 8 + unsigned(line[i] - '0');
        }
        const qsizetype space = line.indexOf(' ', 7);
        if (space < 0)
            return std::nullopt;
        const QByteArrayView digest = QByteArrayView(line).sliced(7, space - 7);
        if (entry.folder ? digest != "-" : !isLowerHex(digest))
            return std::nullopt;
        if (!entry.folder)
            entry.sha256 = digest.toByteArray().toStdString();
        const std::optional<std::string> path = unescape(QByteArrayView(line).sliced(space + 1));
        if (!path || !safeRelative(*path) || isOwnFile(*path))
            return std::nullopt;
        entry.path = *path;
        if (!entries.empty() && !(entries.back().path < entry.path))
            return std::nullopt;
        entries.push_back(std::move(entry));
    }
    return entries;
}

QString write(const QString& root)
{
    const fs::path base = native(root);
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(base, error)))
        return QStringLiteral("not a folder: ") + root;
    const Walk tree = walk(base);
    if (!tree.unreadable.empty())
        return display(tree.unreadable) + QStringLiteral(": ") + tree.reason;
    std::vector<Entry> entries;
    entries.reserve(tree.found.size());
    for (const Found& found : tree.found) {
        if (found.kind == Kind::special)
            return QStringLiteral("a symbolic link or special file can't be signed: ") + display(found.path);
        Entry entry{found.path, found.kind == Kind::folder, found.mode, {}};
        if (!entry.folder) {
            const FileDigest digest = sha256OfFile(display((base / found.path).native()));
            if (!digest.ok())
                return display(found.path) + QStringLiteral(": ") + digest.error;
            entry.sha256 = digest.hex.toStdString();
        }
        entries.push_back(std::move(entry));
    }
    QString reason;
    if (!writeFileAtomically(root + QLatin1Char('/') + QLatin1String(manifestPath), format(std::move(entries)), &reason,
                             true, mode_t(0644)))
        return reason;
    return {};
}

QString check(const QString& root)
{
    const fs::path base = native(root);
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(base, error)))
        return mismatch(root);
    for (const char* own : {manifestPath, signaturePath}) {
        if (!fs::is_regular_file(fs::symlink_status(base / own, error)))
            return mismatch(QLatin1String(own));
    }

    QFile file(display((base / manifestPath).native()));
    if (!file.open(QIODevice::ReadOnly))
        return mismatch(QLatin1String(manifestPath));
    const QByteArray text = file.read(kLargestManifest + 1);
    if (text.size() > kLargestManifest || file.error() != QFileDevice::NoError)
        return mismatch(QLatin1String(manifestPath));
    const std::optional<std::vector<Entry>> listed = parse(text);
    if (!listed)
        return mismatch(QLatin1String(manifestPath));

    const Walk tree = walk(base);
    if (!tree.unreadable.empty())
        return mismatch(display(tree.unreadable)); // what lies inside is unknown
    // Both lists are sorted: walk them side by side and stop at the first
    // path that differs in any way.
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < listed->size() || j < tree.found.size()) {
        const Entry* want = i < listed->size() ? &(*listed)[i] : nullptr;
        const Found* have = j < tree.found.size() ? &tree.found[j] : nullptr;
        if (!have || (want && want->path < have->path))
            return mismatch(display(want->path)); // missing
        if (!want || have->path < want->path)
            return mismatch(display(have->path)); // added
        if (have->kind == Kind::special || want->folder != (have->kind == Kind::folder) || want->mode != have->mode)
            return mismatch(display(have->path));
        if (!want->folder) {
            const FileDigest digest = sha256OfFile(display((base / have->path).native()));
            if (!digest.ok() || digest.hex.toStdString() != want->sha256)
                return mismatch(display(have->path));
        }
        ++i;
        ++j;
    }
    return {};
}

} // namespace zelvo::ReleaseManifest
