#pragma once
// The release version this program was built as (the build's project
// version), e.g. "0.1.0"; empty when the build names none. Any thread.
#include <QString>

namespace zelvo {

QString buildVersion();

} // namespace zelvo
