#include "generation/OutputLines.h"

namespace zelvo {

void OutputLines::decodeInto(const QList<QByteArray>& raw, QStringList& lines)
{
    for (const QByteArray& bytes : raw) {
        if (!bytes.isEmpty())
            lines.append(QString::fromUtf8(bytes));
    }
}

QStringList OutputLines::feed(QByteArrayView bytes)
{
    QStringList lines;
    decodeInto(splitter_.feed(bytes), lines);
    if (splitter_.pendingSize() > kLongestLine)
        decodeInto(splitter_.finish(), lines);
    return lines;
}

QStringList OutputLines::finish()
{
    QStringList lines;
    decodeInto(splitter_.finish(), lines);
    return lines;
}

} // namespace zelvo
