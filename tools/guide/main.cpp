// Makes the field guide's PDF:
//   kavri-zelvo-guide <guide.md> <picture folder> <out.pdf> [<report.json>]
// The report lists what went into the PDF (pages, chapters, pictures, tables,
// text) for the build's checks. Runs without a display. A failed run leaves no
// PDF behind.
#include "GuideBook.h"

#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QGuiApplication>
#include <QSaveFile>
#include <cstdio>

int main(int argc, char** argv)
{
    // Nothing is shown: the offscreen platform gives fonts without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4 || args.size() > 5) {
        std::fprintf(stderr, "usage: kavri-zelvo-guide <guide.md> <picture folder> <out.pdf> [<report.json>]\n");
        return 2;
    }
    QFile source(args[1]);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "guide: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    const QString markdown = QString::fromUtf8(source.readAll());
    const QString out = args[3];
    QDir().mkpath(QFileInfo(out).absolutePath());
    const QString part = out + QStringLiteral(".part");
    QString error;
    const auto book = zelvo::guide::writeBook(markdown, args[2], part, QString::fromUtf8("kavri zelvo — field guide"),
                                              &error);
    if (!book) {
        QFile::remove(part);
        std::fprintf(stderr, "guide: %s\n", qPrintable(error));
        return 1;
    }
    QFile::remove(out);
    if (!QFile::rename(part, out)) {
        QFile::remove(part);
        std::fprintf(stderr, "guide: cannot write %s\n", qPrintable(out));
        return 1;
    }
    if (args.size() == 5) {
        QSaveFile report(args[4]);
        if (!report.open(QIODevice::WriteOnly) || report.write(book->toJson().toUtf8()) < 0 || !report.commit()) {
            std::fprintf(stderr, "guide: cannot write %s\n", qPrintable(args[4]));
            return 1;
        }
    }
    std::printf("guide: %d pages, %d chapters -> %s\n", book->pages, int(book->chapters.size()), qPrintable(out));
    return 0;
}
