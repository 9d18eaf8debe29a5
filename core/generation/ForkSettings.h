#pragma once
// The generation settings the user edits, kept as JSON under the user-defaults
// key "fork.settings". Field names are the JSON keys.
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <optional>

namespace zelvo {

class UserDefaults;

struct ForkSettings {
    std::int64_t aheadBars = 8;    // how far ahead of the playhead a fork's seam lies
    std::int64_t contextBars = 16; // how much the model hears before the seam
    std::int64_t lengthBars = 32;  // how much the model writes after the seam
    std::int64_t steps = 8;        // sampling steps
    double guidance = 1.0;         // guidance strength ("cfg")
    std::int64_t seed = 1;
    bool lockSeed = false;         // keep `seed` instead of drawing one per render
    QString prompt = defaultPrompt();
    QString negativePrompt;
    std::optional<QString> model = QStringLiteral("zelvo-0"); // absent: the server's default
    double loraStrength = 1.0;

    // The user-defaults key the settings live under.
    static constexpr const char* defaultsKey = "fork.settings";

    // The JSON object; "model" is left out when absent. Any thread.
    QJsonObject toJson() const;
    // Reads the JSON object. Every key but "model" is required with its JSON type
    // (integers must hold whole values); "model" may be missing or null. Any
    // other object gives nothing. Any thread.
    static std::optional<ForkSettings> fromJson(const QJsonObject& object);
    // Compact JSON text of toJson(). Any thread.
    QByteArray encode() const;
    // Parses JSON text as fromJson does. Any thread.
    static std::optional<ForkSettings> decode(const QByteArray& json);

    // The stored settings, or the defaults when none are stored or they do not
    // decode. Main thread.
    static ForkSettings restore(const UserDefaults& defaults);
    // Stores the settings as JSON data under defaultsKey. Returns false when the
    // user defaults could not be saved. Main thread.
    bool store(UserDefaults& defaults) const;

    friend bool operator==(const ForkSettings&, const ForkSettings&) = default;

private:
    static QString defaultPrompt();
};

} // namespace zelvo
