#pragma once
// Where the program keeps its files. Every folder is derived from HOME and the
// XDG base-directory variables at the moment of the call, so a test that points
// HOME at a temporary folder moves all of them. Nothing here creates a folder.
#include <QString>

namespace zelvo::Folders {

// Application support: $XDG_DATA_HOME/KavriZelvo, else ~/.local/share/KavriZelvo.
// The library collection and waveform files live here. Any thread.
QString applicationSupport();

// The XDG data home: $XDG_DATA_HOME, else ~/.local/share. Any thread.
QString dataHome();

// Logs: $XDG_STATE_HOME/KavriZelvo, else ~/.local/state/KavriZelvo. Any thread.
QString logs();

// Settings (the user defaults file): $XDG_CONFIG_HOME/KavriZelvo, else
// ~/.config/KavriZelvo. Any thread.
QString config();

// The user's music folder: XDG_MUSIC_DIR from the environment, else from
// user-dirs.dirs in the XDG config home, else ~/Music. Any thread.
QString music();

// The home folder: $HOME, else the account's home as Qt finds it. Any thread.
QString home();

} // namespace zelvo::Folders
