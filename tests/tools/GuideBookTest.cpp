// The field guide: the book the build made (a PDF with a contents page, a page
// or more per chapter, both screen pictures and every key of the keyboard
// map), and the book tool on a small text of its own.
#include "GuideBook.h"
#include "support/TempHome.h"

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

namespace zelvo::guide {
namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Page objects and picture objects of a PDF (their dictionaries are never
// compressed).
int pdfPages(const QByteArray& pdf)
{
    return int(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page\\b(?!s)"))));
}

int pdfPictures(const QByteArray& pdf)
{
    return int(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Subtype\\s*/Image\\b"))));
}

TEST(GuideBook, TheBuiltGuideHoldsEveryChapterBothScreensAndTheWholeKeyboardMap)
{
    const QString built = QStringLiteral(ZELVO_BINARY_DIR);
    const QByteArray pdf = readAll(built + QStringLiteral("/share/kavri-zelvo/kavri-zelvo-guide.pdf"));
    ASSERT_TRUE(pdf.startsWith("%PDF-")) << "the build writes the guide where the program looks for it";
    EXPECT_TRUE(pdf.trimmed().endsWith("%%EOF"));
    const auto book = Book::fromJson(readAll(built + QStringLiteral("/guide/guide-report.json")));
    ASSERT_TRUE(book);
    EXPECT_EQ(pdfPages(pdf), book->pages);
    EXPECT_GE(pdfPictures(pdf), 2);

    // A contents page, then the chapters in order, each on a page of its own.
    const QStringList expected = {
        QStringLiteral("First launch and the tour"), QStringLiteral("Importing music and the library"),
        QStringLiteral("The stage"), QStringLiteral("The classic faceplate"),
        QStringLiteral("The keyboard map and the pads"), QStringLiteral("The model: zelvo-0"),
        QStringLiteral("Controllers and players"), QStringLiteral("Audio outputs and recording"),
        QStringLiteral("Where files live"), QStringLiteral("When something fails")};
    ASSERT_EQ(book->chapters.size(), std::size_t(expected.size()));
    EXPECT_GE(book->contentsPages, 1);
    EXPECT_EQ(book->chapters.front().page, book->contentsPages + 1);
    for (std::size_t i = 0; i < book->chapters.size(); ++i) {
        EXPECT_EQ(book->chapters[i].title, expected[qsizetype(i)]);
        const int next = i + 1 < book->chapters.size() ? book->chapters[i + 1].page : book->pages + 1;
        EXPECT_GT(next, book->chapters[i].page) << book->chapters[i].title.toStdString() << " has a page";
    }
    EXPECT_GE(book->pages, book->contentsPages + int(expected.size()));

    EXPECT_EQ(book->pictures, QStringList({QStringLiteral("stage.png"), QStringLiteral("faceplate.png")}));
    // The pictures are the program's own stills: the stage's window and the
    // faceplate's canvas at twice its points.
    const QImage stage(built + QStringLiteral("/guide/stage.png"));
    const QImage face(built + QStringLiteral("/guide/faceplate.png"));
    EXPECT_GE(stage.width(), 1200);
    EXPECT_EQ(face.size(), QSize(3200, 2160));

    // The keyboard table lists every key of the map.
    const std::vector<QStringList>* keys = nullptr;
    for (const auto& table : book->tables)
        if (!table.empty() && table.front().value(0) == QStringLiteral("key") && table.size() > 30)
            keys = &table;
    ASSERT_NE(keys, nullptr);
    QSet<QString> listed;
    for (std::size_t r = 1; r < keys->size(); ++r)
        for (const QString& k : (*keys)[r].value(0).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            listed.insert(k);
    for (const char* k : {"z", "x", "1", "2", "3", "4", "q", "w", "e", "r", "a", "s", "d", "f", "c", "n", "m", "7",
                          "8", "9", "0", "u", "i", "o", "p", "j", "k", "l", ";", "b", "v", "g", "h", "t", "y", "[",
                          "]", ",", ".", "/", "=", "+", "Tab", "Return", "Right", "Left"})
        EXPECT_TRUE(listed.contains(QString::fromLatin1(k))) << k;
    // And the menu's shortcuts in their Linux keys.
    for (const char* k : {"Ctrl+O", "Ctrl+G", "Ctrl+T", "Ctrl+D"})
        EXPECT_TRUE(book->text.contains(QString::fromLatin1(k))) << k;
}

TEST(GuideBook, ChaptersStartPagesTheContentsNumberThemAndPicturesMustExist)
{
    test::TempHome home;
    QImage picture(400, 200, QImage::Format_RGB32);
    picture.fill(QColor(30, 120, 200));
    ASSERT_TRUE(picture.save(home.file(QStringLiteral("shot.png"))));
    QString long_;
    for (int i = 0; i < 160; ++i)
        long_ += QStringLiteral("A paragraph of the long chapter, number %1, long enough to wrap once or twice "
                                "on an A4 page with its margins.\n\n").arg(i);
    const QString markdown = QStringLiteral("# One\n\nShort.\n\n![a still](shot.png)\n\n"
                                            "| key | action |\n|---|---|\n| z | cue |\n| x | play |\n\n"
                                            "# Two\n\n") + long_ + QStringLiteral("# Three\n\nThe end.\n");
    const QString pdfPath = home.file(QStringLiteral("book.pdf"));
    QString error;
    const auto book = writeBook(markdown, home.path(), pdfPath, QStringLiteral("t — guide"), &error);
    ASSERT_TRUE(book) << error.toStdString();
    EXPECT_EQ(book->contentsPages, 1);
    ASSERT_EQ(book->chapters.size(), 3u);
    EXPECT_EQ(book->chapters[0].page, 2);
    EXPECT_EQ(book->chapters[1].page, 3) << "a chapter starts a page even when the last one has room";
    EXPECT_GE(book->chapters[2].page, 6) << "the long chapter runs over pages";
    EXPECT_EQ(book->pages, book->chapters[2].page);
    EXPECT_EQ(pdfPages(readAll(pdfPath)), book->pages);
    EXPECT_EQ(pdfPictures(readAll(pdfPath)), 1);
    EXPECT_EQ(book->pictures, QStringList{QStringLiteral("shot.png")});
    ASSERT_EQ(book->tables.size(), 1u);
    EXPECT_EQ(book->tables[0], (std::vector<QStringList>{{QStringLiteral("key"), QStringLiteral("action")},
                                                          {QStringLiteral("z"), QStringLiteral("cue")},
                                                          {QStringLiteral("x"), QStringLiteral("play")}}));
    const auto again = Book::fromJson(book->toJson().toUtf8());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->chapters[2].page, book->chapters[2].page);

    // A picture that is not there fails the book, naming the file.
    error.clear();
    EXPECT_FALSE(writeBook(QStringLiteral("# One\n\n![gone](gone.png)\n"), home.path(),
                           home.file(QStringLiteral("other.pdf")), QStringLiteral("t — guide"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("gone.png"))) << error.toStdString();
}

} // namespace
} // namespace zelvo::guide
