#include "generation/ForkSettings.h"

#include "generation/Caption.h"
#include "platform/UserDefaults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>

namespace zelvo {
namespace {

QJsonObject defaultsObject()
{
    return ForkSettings{}.toJson();
}

TEST(ForkSettingsTest, DefaultsAndTheirJsonForm)
{
    const ForkSettings s;
    EXPECT_EQ(s.aheadBars, 8);
    EXPECT_EQ(s.contextBars, 16);
    EXPECT_EQ(s.lengthBars, 32);
    EXPECT_EQ(s.steps, 8);
    EXPECT_EQ(s.guidance, 1.0);
    EXPECT_EQ(s.seed, 1);
    EXPECT_FALSE(s.lockSeed);
    EXPECT_EQ(s.prompt, Caption::trained());
    EXPECT_EQ(s.negativePrompt, "");
    EXPECT_EQ(s.model, QString("zelvo-0"));
    EXPECT_EQ(s.loraStrength, 1.0);

    const QStringList keys = defaultsObject().keys();
    EXPECT_EQ(keys, (QStringList{"aheadBars", "contextBars", "guidance", "lengthBars", "lockSeed", "loraStrength",
                                 "model", "negativePrompt", "prompt", "seed", "steps"}));
    ForkSettings noModel;
    noModel.model.reset();
    EXPECT_FALSE(noModel.toJson().contains("model"));
}

TEST(ForkSettingsTest, RoundTripsEveryField)
{
    ForkSettings s;
    s.aheadBars = 2;
    s.contextBars = 24;
    s.lengthBars = 64;
    s.steps = 12;
    s.guidance = 1.75;
    s.seed = (std::int64_t(1) << 53) + 1; // past a double's exact range
    s.lockSeed = true;
    s.prompt = "deep, \"dubby\" techno — ünïcode";
    s.negativePrompt = "vocals";
    s.model = "night-drive";
    s.loraStrength = 0.35;
    EXPECT_EQ(ForkSettings::decode(s.encode()), s);
    s.model.reset();
    EXPECT_EQ(ForkSettings::decode(s.encode()), s);
}

TEST(ForkSettingsTest, ANonFiniteNumberIsStoredAsItsDefaultAndKeepsTheRest)
{
    ForkSettings s;
    s.prompt = "dusty breaks";
    s.steps = 12;
    s.guidance = std::numeric_limits<double>::quiet_NaN();
    s.loraStrength = std::numeric_limits<double>::infinity();
    const auto back = ForkSettings::decode(s.encode());
    ASSERT_TRUE(back); // null in place of a number would have thrown every setting away
    EXPECT_EQ(back->prompt, "dusty breaks");
    EXPECT_EQ(back->steps, 12);
    EXPECT_EQ(back->guidance, ForkSettings{}.guidance);
    EXPECT_EQ(back->loraStrength, ForkSettings{}.loraStrength);
}

TEST(ForkSettingsTest, DecodingIsStrictExceptForTheModel)
{
    // Every key but "model" is required.
    for (const QString& key : defaultsObject().keys()) {
        QJsonObject o = defaultsObject();
        o.remove(key);
        if (key == "model") {
            const auto s = ForkSettings::fromJson(o);
            ASSERT_TRUE(s);
            EXPECT_FALSE(s->model);
        } else {
            EXPECT_FALSE(ForkSettings::fromJson(o)) << key.toStdString();
        }
    }

    struct Bad {
        const char* key;
        QJsonValue value;
    };
    const Bad bad[] = {
        {"aheadBars", "8"},      {"contextBars", 16.5}, {"lengthBars", true},   {"steps", QJsonValue::Null},
        {"guidance", "1.0"},     {"seed", 1e30},        {"lockSeed", 1},        {"prompt", 3},
        {"negativePrompt", QJsonValue::Null},           {"model", 5},           {"loraStrength", QJsonArray{}},
    };
    for (const Bad& b : bad) {
        QJsonObject o = defaultsObject();
        o.insert(b.key, b.value);
        EXPECT_FALSE(ForkSettings::fromJson(o)) << b.key;
    }

    // Whole numbers written with a fraction part are integers; null is no model.
    QJsonObject o = defaultsObject();
    o.insert("aheadBars", 4.0);
    o.insert("model", QJsonValue::Null);
    o.insert("guidance", 2);
    const auto s = ForkSettings::fromJson(o);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->aheadBars, 4);
    EXPECT_FALSE(s->model);
    EXPECT_EQ(s->guidance, 2.0);

    EXPECT_FALSE(ForkSettings::decode("not json"));
    EXPECT_FALSE(ForkSettings::decode("[1,2]"));
    EXPECT_FALSE(ForkSettings::decode(""));
}

TEST(ForkSettingsTest, RestoresFromTheUserDefaultsOrFallsBackToDefaults)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("defaults.json");
    {
        UserDefaults defaults(file);
        EXPECT_EQ(ForkSettings::restore(defaults), ForkSettings{});
        ForkSettings s;
        s.contextBars = 32;
        s.model.reset();
        ASSERT_TRUE(s.store(defaults));
        ASSERT_TRUE(defaults.data("fork.settings"));
    }
    {
        UserDefaults reopened(file);
        ForkSettings expected;
        expected.contextBars = 32;
        expected.model.reset();
        EXPECT_EQ(ForkSettings::restore(reopened), expected);

        // Data that does not decode (an older form without "loraStrength") gives the defaults.
        QJsonObject old = expected.toJson();
        old.remove("loraStrength");
        reopened.setData("fork.settings", QJsonDocument(old).toJson());
        EXPECT_EQ(ForkSettings::restore(reopened), ForkSettings{});
        // So does a value of another type under the key.
        reopened.setString("fork.settings", QString::fromUtf8(expected.encode()));
        EXPECT_EQ(ForkSettings::restore(reopened), ForkSettings{});
    }
}

} // namespace
} // namespace zelvo
