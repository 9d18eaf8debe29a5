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
    // "CDJ-3000X" also contains "CDJ-3000": the X model is tested first.
    if (upperNameContains(deviceName, {"CDJ-3000X", "CDJ3000X"}))
        return PlayerModel::cdj3000x;
    if (upperNameContains(deviceName, {"CDJ-3000", "CDJ3000"}))
        return PlayerModel::cdj3000;
    return std::nullopt;
}

} // namespace zelvo::PlayerModels
