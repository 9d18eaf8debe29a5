#include "generation/KavriAccount.h"

namespace zelvo {

KavriAccount::KavriAccount(QObject* parent) : QObject(parent) {}

QString KavriAccount::masked() const
{
    if (key_.size() < 15)
        return key_;
    return key_.left(10) + QChar(0x2026) + key_.right(4);
}

QUrl KavriAccount::signUp()
{
    return QUrl(QStringLiteral("https://kavri.example/keys"));
}

} // namespace zelvo
