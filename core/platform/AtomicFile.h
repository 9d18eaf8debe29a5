#pragma once
// Replacing a file whole: the bytes go to a temporary file beside it that is
// then renamed over the old one, so a crash at any moment leaves the old file
// or the new one, never a mix of the two.
#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

namespace zelvo {

// Writes `bytes` to `path` atomically; the folder must exist. The new file
// keeps the old one's permissions (a new file gets 0644), or gets exactly
// `mode` when given; either is set on the temporary file (created 0600)
// before the rename, so the target never has other permissions, not even for
// a moment. Returns false and leaves the old file as it was, with no temporary
// file behind, when anything fails, with the reason in `error` when given.
// With `durable`, the data are flushed to the disk before the rename and the
// rename itself after it, so a power failure cannot leave an empty file
// either; that waits for the disk. Any thread.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                         bool durable = false, std::optional<mode_t> mode = std::nullopt);

} // namespace zelvo
