#include "platform/TextFormat.h"

#include <cstdarg>

namespace zelvo {

QString formatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    // QString::vasprintf formats numbers itself, independent of setlocale.
    QString text = QString::vasprintf(format, args);
    va_end(args);
    return text;
}

} // namespace zelvo
