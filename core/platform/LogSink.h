#pragma once
// Where a part of the program writes its log lines. The application's log
// implements it; a component takes a pointer and treats null as "no log".
// Lines start with a lower-case subject and a colon ("library: ...").
#include <QString>

namespace zelvo {

class LogSink {
public:
    virtual ~LogSink() = default;
    // Appends one line to the log. Main thread.
    virtual void note(const QString& line) = 0;
};

} // namespace zelvo
