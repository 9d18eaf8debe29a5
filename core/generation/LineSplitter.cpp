#include "generation/LineSplitter.h"

namespace zelvo {

QList<QByteArray> LineSplitter::feed(QByteArrayView bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\n' && afterCR_ && i == start && partial_.isEmpty()) {
            // The LF of a CR LF whose CR already ended the line.
            afterCR_ = false;
            start = i + 1;
            continue;
        }
        afterCR_ = false;
        if (c != '\n' && c != '\r')
            continue;
        partial_.append(bytes.sliced(start, i - start));
        lines.append(partial_);
        partial_.clear();
        afterCR_ = c == '\r';
        start = i + 1;
    }
    partial_.append(bytes.sliced(start));
    return lines;
}

QList<QByteArray> LineSplitter::finish()
{
    QList<QByteArray> lines;
    if (!partial_.isEmpty())
        lines.append(partial_);
    partial_.clear();
    afterCR_ = false;
    return lines;
}

} // namespace zelvo
