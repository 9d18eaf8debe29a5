#pragma once
// A throw-away home folder for one test: HOME and the XDG folders point into a
// fresh temporary directory while the object lives, and are restored after.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <map>
#include <optional>
#include <string>

namespace zelvo::test {

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    // Absolute path of the temporary home.
    QString path() const { return dir_.path(); }
    // Absolute path of a file or folder inside the home.
    QString file(const QString& relative) const { return dir_.filePath(relative); }

private:
    QTemporaryDir dir_;
    std::map<std::string, std::optional<QByteArray>> saved_;
};

} // namespace zelvo::test
