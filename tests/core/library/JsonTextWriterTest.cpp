#include "library/JsonTextWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <limits>

using namespace zelvo;

TEST(JsonTextWriter, WritesWhatQtReadsBackExactly)
{
    const QString awkward = QString::fromUtf8("quote \" slash \\ / tab \t nl \n cr \r ctl \x01\x1f é ") +
                            QString::fromUcs4(U"\U0001F3B5");
    const QJsonObject nested{{"z", 1}, {"a", QJsonArray{1.5, QJsonValue::Null, true, "x"}},
                             {"big", qint64(9007199254740993)}, {"neg", -0.25}, {"empty", QJsonObject{}},
                             {"none", QJsonArray{}}};
    JsonTextWriter writer;
    writer.beginArray();
    writer.string(awkward);
    writer.number(0.1);
    writer.number(1e300);
    writer.number(-0.0);
    writer.number(5e-324);
    writer.integer(std::numeric_limits<std::int64_t>::min());
    writer.boolean(false);
    writer.null();
    writer.value(nested);
    writer.beginObject();
    writer.key(QLatin1StringView("b"));
    writer.integer(2);
    writer.key(QLatin1StringView("a"));
    writer.beginArray();
    writer.endArray();
    writer.endObject();
    writer.endArray();
    const QByteArray text = writer.take();
    EXPECT_TRUE(text.endsWith("]\n"));

    QJsonParseError error;
    const QJsonArray back = QJsonDocument::fromJson(text, &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << text.toStdString();
    ASSERT_EQ(back.size(), 10);
    EXPECT_EQ(back[0].toString(), awkward);
    EXPECT_EQ(back[1].toDouble(), 0.1);
    EXPECT_EQ(back[2].toDouble(), 1e300);
    EXPECT_EQ(back[3].toDouble(), 0.0);
    EXPECT_EQ(back[4].toDouble(), 5e-324);
    EXPECT_EQ(back[5].toInteger(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(back[6], QJsonValue(false));
    EXPECT_TRUE(back[7].isNull());
    EXPECT_EQ(back[8].toObject(), nested);
    EXPECT_EQ(back[8].toObject().value("big").toInteger(), 9007199254740993);
    EXPECT_EQ(back[9].toObject(), (QJsonObject{{"a", QJsonArray{}}, {"b", 2}}));
    // Members in the order written, one per line, four spaces a level.
    EXPECT_LT(text.indexOf("\"b\": 2"), text.lastIndexOf("\"a\": ["));
    EXPECT_TRUE(text.contains("\n        \"b\": 2,\n"));
}

TEST(JsonTextWriter, NonFiniteNumbersBecomeNullNotInvalidText)
{
    JsonTextWriter writer;
    writer.beginArray();
    writer.number(std::numeric_limits<double>::quiet_NaN());
    writer.number(-std::numeric_limits<double>::infinity());
    writer.endArray();
    QJsonParseError error;
    const QJsonArray back = QJsonDocument::fromJson(writer.take(), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_TRUE(back[0].isNull() && back[1].isNull());
}
