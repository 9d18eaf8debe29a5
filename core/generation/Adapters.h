#pragma once
// LoRA adapters for the model: recognising an adapter file among any other
// files, and installing one into the model server's models folder.
//
// An adapter is a safetensors file (8-byte little-endian header length, a JSON
// header, tensor data) whose header carries "__metadata__" with "rank" and
// "alpha" and at least one tensor whose name ends in ".lora_A".
#include <QString>
#include <stdexcept>

namespace zelvo::Adapters {

// Refusal of a file that is not an adapter; nothing was written.
class InstallError : public std::runtime_error {
public:
    enum class Kind { notAnAdapter };

    // `fileName` is the refused file's last path component.
    static InstallError notAnAdapter(const QString& fileName);

    Kind kind() const { return kind_; }
    const QString& fileName() const { return fileName_; }
    // The user-facing text: the file name followed by " isn't a zelvo-0 adapter".
    QString description() const;

private:
    InstallError(Kind kind, const QString& fileName);
    Kind kind_;
    QString fileName_;
};

// True when the file at `path` is an adapter. Reads at most the length word and
// the header, never throws; any read or parse failure is a plain false. Any thread.
bool isAdapter(const QString& path);

// Copies the adapter at `source` into `modelsFolder` as <name>.safetensors, where
// name is the source's file name without its extension, and returns name. The
// folder is created (mode 0700); the copy goes to a hidden 0600 file that is
// renamed over any earlier adapter of that name in one step. A source that
// already is the installed file is not copied again. Throws InstallError for a
// non-adapter, std::filesystem::filesystem_error for a file-system failure. Main
// thread (any thread that owns the folder).
QString install(const QString& source, const QString& modelsFolder);

} // namespace zelvo::Adapters
