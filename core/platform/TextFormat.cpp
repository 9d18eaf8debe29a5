#include "platform/TextFormat.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <locale.h>
#include <vector>

namespace zelvo {

namespace {

// The C locale, made once. newlocale can only fail for lack of memory; then the
// thread's own locale is used.
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return locale;
}

} // namespace

QString formatText(const char* format, ...)
{
    // The C library's own formatting (printf's rounding of ties, its exponent
    // and special-value spellings) under the C locale for this thread only:
    // QString::asprintf rounds differently, and setlocale is process-wide.
    const locale_t c = cLocale();
    const locale_t previous = c ? uselocale(c) : locale_t(nullptr);

    char small[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);

    QString text;
    if (length < 0) {
        text = QString();
    } else if (static_cast<size_t>(length) < sizeof small) {
        text = QString::fromUtf8(small, length);
    } else {
        std::vector<char> large(static_cast<size_t>(length) + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        text = QString::fromUtf8(large.data(), length);
    }
    va_end(again);

    if (c)
        uselocale(previous);
    return text;
}

} // namespace zelvo
