#pragma once
// Cuts a byte stream into lines that end in LF, CR or CR LF, also when a line
// or its CR LF ending is split across reads.
#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace zelvo {

class LineSplitter {
public:
    // Takes the next bytes of the stream; returns the lines they complete, in
    // order, without their endings. One thread at a time.
    QList<QByteArray> feed(QByteArrayView bytes);
    // The stream ended: returns the last line when it had no ending (else nothing).
    QList<QByteArray> finish();
    // Bytes of the unfinished line held back so far.
    qsizetype pendingSize() const { return partial_.size(); }

private:
    QByteArray partial_;
    bool afterCR_ = false; // the last byte seen was a CR: a leading LF belongs to it
};

} // namespace zelvo
