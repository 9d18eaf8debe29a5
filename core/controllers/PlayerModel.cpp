#include "controllers/PlayerModel.h"

#include "controllers/DeviceNameMatch.h"

namespace zelvo::PlayerModels {

std::string_view rawText(PlayerModel model)
{
    return model == PlayerModel::cdj3000x ? "cdj3000x" : "cdj3000";
}

std::optional<PlayerModel> fromRawText(std::string_view text)
{
    if (text == "cdj3000x")
        return PlayerModel::cdj3000x;
    if (text == "cdj3000")
        return PlayerModel::cdj3000;
    return std::nullopt;
}

std::optional<PlayerModel> match(std::string_view deviceName)
{
    // Ports spell the model with spaces between its parts ("CDJ 3000 X").
    std::string compact;
    compact.reserve(deviceName.size());
    for (char c : deviceName) {
        if (c != ' ')
            compact.push_back(c);
    }
    // "CDJ-3000X" also contains "CDJ-3000": the X model is tested first.
    if (upperNameContains(compact, {"CDJ-3000X", "CDJ3000X"}))
        return PlayerModel::cdj3000x;
    if (upperNameContains(compact, {"CDJ-3000", "CDJ3000"}))
        return PlayerModel::cdj3000;
    return std::nullopt;
}

std::string_view model(PlayerModel m)
{
    return m == PlayerModel::cdj3000x ? "CDJ-3000X" : "CDJ-3000";
}

} // namespace zelvo::PlayerModels
