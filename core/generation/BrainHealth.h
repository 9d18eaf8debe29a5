#pragma once
// The model server's status report: the body of a "health" reply.
#include "generation/BrainModel.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>

namespace zelvo {

struct BrainHealth {
    bool ok = false;                       // "ok"
    QString state;                         // "state": "loading", "busy", anything else is idle
    QString dit;                           // "dit"
    bool warm = false;                     // "warm"
    std::optional<qint64> latents;         // "latents"
    QStringList missing;                   // "missing": what the model still lacks
    double activeGB = 0;                   // "active_gb": memory in use, gigabytes
    double peakGB = 0;                     // "peak_gb": peak memory, gigabytes
    std::optional<double> lastElapsed;     // "last_elapsed": seconds of the last render
    QList<BrainModel> models;              // "models": the models and adapters installed
    std::optional<QString> model;          // "model"
    std::optional<QString> modelsDir;      // "models_dir"
    std::optional<QString> fast;           // "fast": state of the neural-engine half
    std::optional<qint64> pid;             // "pid": the server's process id
    std::optional<bool> fastLoaded;        // "fast_loaded"
    std::optional<std::map<QString, qint64>> tracksReady; // "tracks_ready"

    // Decodes a reply body strictly: every required key present, every key of the
    // right JSON type (null counts as absent; an integer rejects a fractional
    // number); other keys are ignored. On failure returns nothing and, when `why`
    // is given, says which key failed. Any thread.
    static std::optional<BrainHealth> decode(const QByteArray& body, QString* why = nullptr);

    bool operator==(const BrainHealth&) const = default;
};

} // namespace zelvo
