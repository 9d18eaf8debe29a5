#pragma once
// The system's log (syslog(3)), for the rare line that belongs to the machine
// rather than to the program's own log. Lines go out under the program's name
// at notice level.
#include "platform/LogSink.h"

namespace zelvo {

class SystemLog final : public LogSink {
public:
    // Any thread.
    void note(const QString& line) override;
};

} // namespace zelvo
