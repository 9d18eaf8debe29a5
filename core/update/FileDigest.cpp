#include "update/FileDigest.h"

#include <QCryptographicHash>
#include <QFile>
#include <vector>

namespace zelvo {

FileDigest sha256OfFile(const QString& path)
{
    constexpr qint64 kBlock = 1024 * 1024;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, file.errorString()};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> block(std::size_t(kBlock), 0);
    for (;;) {
        const qint64 read = file.read(block.data(), kBlock);
        if (read < 0)
            return {{}, file.errorString()};
        if (read == 0)
            break;
        hash.addData(QByteArrayView(block.data(), read));
    }
    return {QString::fromLatin1(hash.result().toHex()), {}};
}

} // namespace zelvo
