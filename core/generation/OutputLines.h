#pragma once
// Turns a child process's output into log lines: cut at LF, CR or CR LF across
// reads, each whole line decoded as UTF-8 (U+FFFD for invalid bytes), empty
// lines dropped. An unfinished line longer than `kLongestLine` is handed on as
// it stands, so a child that never ends its line cannot grow us without bound.
#include "generation/LineSplitter.h"

#include <QByteArrayView>
#include <QStringList>

namespace zelvo {

class OutputLines {
public:
    static constexpr qsizetype kLongestLine = 64 * 1024;

    // The lines completed by the next bytes, in order. One thread at a time.
    QStringList feed(QByteArrayView bytes);
    // The output ended or its writer exited: the unfinished line, if any.
    QStringList finish();

private:
    static void decodeInto(const QList<QByteArray>& raw, QStringList& lines);
    LineSplitter splitter_;
};

} // namespace zelvo
