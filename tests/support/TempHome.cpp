#include "support/TempHome.h"

#include <QDir>
#include <cstdlib>

namespace zelvo::test {

namespace {
const char* const kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME",
                                  "XDG_CACHE_HOME", "XDG_MUSIC_DIR", "XDG_CONFIG_DIRS"};
}

TempHome::TempHome()
{
    for (const char* name : kVariables) {
        if (qEnvironmentVariableIsSet(name))
            saved_[name] = qgetenv(name);
        else
            saved_[name] = std::nullopt;
    }
    const QString home = dir_.path();
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_DATA_HOME", (home + "/.local/share").toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + "/.config").toUtf8());
    qputenv("XDG_STATE_HOME", (home + "/.local/state").toUtf8());
    qputenv("XDG_CACHE_HOME", (home + "/.cache").toUtf8());
    qunsetenv("XDG_MUSIC_DIR");
    // Keep the machine's user-dirs.dirs out of the test.
    qputenv("XDG_CONFIG_DIRS", (home + "/.config-dirs").toUtf8());
}

TempHome::~TempHome()
{
    for (const auto& [name, value] : saved_) {
        if (value)
            qputenv(name.c_str(), *value);
        else
            qunsetenv(name.c_str());
    }
}

} // namespace zelvo::test
