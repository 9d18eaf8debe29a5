#pragma once
// A German locale (decimal comma) for the process while the object lives:
// compiled with localedef into a temporary folder, so the machine needs the
// locale sources but no generated locales. The previous locale comes back at
// the end.
#include <QString>
#include <QTemporaryDir>

namespace zelvo::test {

class CommaLocale {
public:
    CommaLocale();
    ~CommaLocale();
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    // The locale is in force and the C library prints a decimal comma.
    bool active() const { return active_; }
    // Why it is not.
    const QString& why() const { return why_; }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
    QByteArray previousPath_;
    bool hadPath_ = false;
    bool active_ = false;
    QString why_;
};

} // namespace zelvo::test
