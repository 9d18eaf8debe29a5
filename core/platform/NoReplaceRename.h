#pragma once
// Moving a finished file to its final name without ever replacing a file that
// is already there.
#include <QString>

namespace zelvo {

enum class RenameOutcome { renamed, nameTaken, failed };

// Renames `from` to `to` only when nothing exists at `to`. Uses the kernel's
// no-replace rename; where the file system refuses it, links the file under the
// new name (which fails when the name is taken) and then unlinks the old name.
// On `nameTaken` and `failed` the file stays at `from`; `error` gets the reason
// of a failure when given. Any thread.
RenameOutcome renameWithoutReplacing(const QString& from, const QString& to, QString* error = nullptr);

} // namespace zelvo
