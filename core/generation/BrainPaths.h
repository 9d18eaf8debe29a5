#pragma once
// Where the model server's files lie: its home (runtime, models, scratch files)
// and the folder of scripts shipped with the program. Every derived path is
// computed when asked; nothing is created or cached here.
#include <QString>
#include <optional>

namespace zelvo {

struct BrainPaths {
    QString home;             // the brain home
    QString scriptsDirectory; // holds the server script and the installer

    // `home` when given; else KAVRI_BRAIN_HOME when set and not empty; else
    // "brain" in the application-support folder. Any thread.
    explicit BrainPaths(QString scriptsDirectory, std::optional<QString> home = std::nullopt);

    // home + "zelvo-0/optimized/mlx": the server's runtime folder. Any thread.
    QString runtime() const;
    // runtime + ".venv/bin/python": the interpreter of its virtual environment. Any thread.
    QString python() const;
    // scriptsDirectory + "kavri_brain.py". Any thread.
    QString server() const;
    // scriptsDirectory + "install.sh". Any thread.
    QString installer() const;
    // home + "scratch": WAV files exchanged with the server. Any thread.
    QString scratch() const;
    // home + "models": installed models and adapters. Any thread.
    QString models() const;
    // True when `python` is an executable file; nothing else is checked. Any thread.
    bool isInstalled() const;

    friend bool operator==(const BrainPaths&, const BrainPaths&) = default;
};

} // namespace zelvo
