#pragma once
// What the fuzz targets share: a Qt core application, a scratch folder of the
// process's own, and a property check that stops the run with a message.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace zelvo::fuzz {

// Makes the Qt core application once and quiets FFmpeg's log. Called from
// LLVMFuzzerInitialize.
void initialize(int* argc, char*** argv);

// A folder of this process's own, removed when the process ends.
const QString& scratch();
// `name` inside the scratch folder.
QString scratchFile(const QString& name);

// Writes bytes to a file, replacing it; aborts when it cannot.
void writeFile(const QString& path, QByteArrayView bytes);
// The whole file; empty when it cannot be read.
QByteArray readFile(const QString& path);

// Stops the run with `what` when a property does not hold: libFuzzer reports
// the input that broke it.
void require(bool holds, const char* what);

// The input as bytes.
inline QByteArrayView bytesOf(const std::uint8_t* data, std::size_t size)
{
    return QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size));
}

} // namespace zelvo::fuzz
