#pragma once
// SHA-256 of a file's contents, read in 1 MiB blocks. Any thread (it reads the
// whole file: keep it off the main thread for anything large).
#include <QString>

namespace zelvo {

struct FileDigest {
    QString hex;   // 64 lower-case hexadecimal characters; empty on failure
    QString error; // the file system's text when opening or reading failed
    bool ok() const { return error.isEmpty(); }
};

FileDigest sha256OfFile(const QString& path);

} // namespace zelvo
