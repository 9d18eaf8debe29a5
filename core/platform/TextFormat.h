#pragma once
// printf-style formatting that never follows the user's locale: the decimal
// point is always '.', digits are ASCII. Log lines, stamps and any text a
// file or another program reads back go through here, not through snprintf
// (the application sets the C library's locale from the environment).
#include <QString>

namespace zelvo {

// Formats exactly as printf does in the C locale (its rounding included),
// whatever the process locale. Any thread.
QString formatText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

} // namespace zelvo
