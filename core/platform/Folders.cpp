#include "platform/Folders.h"

#include <QDir>
#include <QFile>

namespace zelvo::Folders {

namespace {

const QString kAppName = QStringLiteral("KavriZelvo");

// The XDG rules: a variable that is unset, empty or not an absolute path is
// ignored and the default under the home folder is used instead.
QString baseDirectory(const char* variable, const QString& fallbackUnderHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(home() + QLatin1Char('/') + fallbackUnderHome);
}

QString configHome()
{
    return baseDirectory("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

// The value of a user-dirs.dirs entry: a double-quoted path that is either
// absolute or starts with "$HOME/" (or is "$HOME" itself). Anything else is
// rejected with an empty result.
QString expandUserDir(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        value = value.mid(1, value.size() - 2);
    // The file's shell quoting only ever escapes these characters.
    QString unescaped;
    unescaped.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size())
            ++i;
        unescaped += value[i];
    }
    value = unescaped;
    if (value == QLatin1String("$HOME"))
        return home();
    if (value.startsWith(QLatin1String("$HOME/")))
        return QDir::cleanPath(home() + value.mid(5));
    if (QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return {};
}

QString musicFromUserDirs()
{
    QFile file(configHome() + QStringLiteral("/user-dirs.dirs"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString found;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || line.left(eq).trimmed() != QLatin1String("XDG_MUSIC_DIR"))
            continue;
        // A later line overrides an earlier one, as when the shell sources it.
        const QString path = expandUserDir(line.mid(eq + 1));
        if (!path.isEmpty())
            found = path;
    }
    return found;
}

} // namespace

QString home()
{
    const QString value = qEnvironmentVariable("HOME");
    if (!value.isEmpty())
        return QDir::cleanPath(value);
    return QDir::homePath();
}

QString dataHome()
{
    return baseDirectory("XDG_DATA_HOME", QStringLiteral(".local/share"));
}

QString applicationSupport()
{
    return dataHome() + QLatin1Char('/') + kAppName;
}

QString logs()
{
    return baseDirectory("XDG_STATE_HOME", QStringLiteral(".local/state")) + QLatin1Char('/') + kAppName;
}

QString config()
{
    return configHome() + QLatin1Char('/') + kAppName;
}

QString music()
{
    const QString fromEnvironment = qEnvironmentVariable("XDG_MUSIC_DIR");
    if (!fromEnvironment.isEmpty()) {
        const QString path = expandUserDir(fromEnvironment);
        if (!path.isEmpty())
            return path;
    }
    const QString fromFile = musicFromUserDirs();
    if (!fromFile.isEmpty())
        return fromFile;
    return home() + QStringLiteral("/Music");
}

} // namespace zelvo::Folders
