#include "generation/BrainPaths.h"

#include "platform/Folders.h"

#include <QDir>
#include <QFileInfo>

namespace zelvo {

namespace {

QString under(const QString& folder, const char* relative)
{
    return QDir::cleanPath(folder + QLatin1Char('/') + QLatin1String(relative));
}

QString defaultHome()
{
    const QString fromEnvironment = qEnvironmentVariable("KAVRI_BRAIN_HOME");
    if (!fromEnvironment.isEmpty())
        return QDir::cleanPath(QDir(fromEnvironment).absolutePath());
    return under(Folders::applicationSupport(), "brain");
}

} // namespace

BrainPaths::BrainPaths(QString scripts, std::optional<QString> givenHome)
    : home(givenHome ? std::move(*givenHome) : defaultHome())
    , scriptsDirectory(std::move(scripts))
{
}

QString BrainPaths::runtime() const { return under(home, "zelvo-0/optimized/mlx"); }
QString BrainPaths::python() const { return under(runtime(), ".venv/bin/python"); }
QString BrainPaths::server() const { return under(scriptsDirectory, "kavri_brain.py"); }
QString BrainPaths::installer() const { return under(scriptsDirectory, "install.sh"); }
QString BrainPaths::scratch() const { return under(home, "scratch"); }
QString BrainPaths::models() const { return under(home, "models"); }

bool BrainPaths::isInstalled() const
{
    const QFileInfo info(python());
    return info.isFile() && info.isExecutable();
}

} // namespace zelvo
