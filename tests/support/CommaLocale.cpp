#include "support/CommaLocale.h"

#include <QProcess>
#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace zelvo::test {

CommaLocale::CommaLocale()
{
    if (const char* current = std::setlocale(LC_ALL, nullptr))
        previous_ = current;
    hadPath_ = qEnvironmentVariableIsSet("LOCPATH");
    previousPath_ = qgetenv("LOCPATH");
    if (!dir_.isValid()) {
        why_ = QStringLiteral("no temporary folder");
        return;
    }
    QProcess localedef;
    localedef.start(QStringLiteral("localedef"),
                    {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"), QStringLiteral("UTF-8"),
                     dir_.filePath(QStringLiteral("de_DE.UTF-8"))});
    if (!localedef.waitForFinished(60000) || localedef.exitStatus() != QProcess::NormalExit) {
        why_ = QStringLiteral("localedef did not run: ") + localedef.errorString();
        return;
    }
    // localedef exits 1 for warnings while still writing the locale.
    qputenv("LOCPATH", dir_.path().toLocal8Bit());
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        why_ = QStringLiteral("the compiled locale does not load: ") + QString::fromLocal8Bit(localedef.readAllStandardError());
        return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    active_ = QByteArray(text) == "1,5";
    if (!active_)
        why_ = QStringLiteral("the locale prints ") + QString::fromLatin1(text);
}

CommaLocale::~CommaLocale()
{
    std::setlocale(LC_ALL, previous_.isEmpty() ? "C" : previous_.constData());
    if (hadPath_)
        qputenv("LOCPATH", previousPath_);
    else
        qunsetenv("LOCPATH");
}

} // namespace zelvo::test
