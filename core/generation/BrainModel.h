#pragma once
// One model the model server can use: the stock model or an installed adapter.
#include <QString>

namespace zelvo {

struct BrainModel {
    QString name; // JSON "name"
    QString kind; // JSON "kind": "base" for the stock model, anything else for an adapter

    // Models are identified by name. Any thread.
    const QString& id() const { return name; }
    // True for the stock model (kind exactly "base"). Any thread.
    bool isBase() const { return kind == QLatin1String("base"); }

    bool operator==(const BrainModel&) const = default;
};

} // namespace zelvo
