#include "platform/SystemLog.h"

#include <syslog.h>

namespace zelvo {

void SystemLog::note(const QString& line)
{
    // The line is data, never a format.
    ::syslog(LOG_USER | LOG_NOTICE, "%s", line.toUtf8().constData());
}

} // namespace zelvo
