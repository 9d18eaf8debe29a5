#pragma once
// The field guide as a printed book: Markdown in, an A4 PDF out, through Qt's
// own text document and PDF writer. Every top-level heading starts a chapter
// on a new page; a contents page in front lists the chapters with their page
// numbers; tables get rules and a shaded header row; pictures come from a
// folder and are set to the text's width; every page carries its number.
//
// Needs a QGuiApplication (fonts); main thread.
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace zelvo::guide {

struct Chapter {
    QString title;
    // 1-based page of the PDF the chapter starts on.
    int page = 0;
};

// What went into the PDF: read back by the build's checks.
struct Book {
    int pages = 0;
    int contentsPages = 0;
    std::vector<Chapter> chapters;
    // The picture files placed, in order.
    QStringList pictures;
    // Every table's cells, row by row, the header row first.
    std::vector<std::vector<QStringList>> tables;
    // The body's text as laid out.
    QString text;

    QString toJson() const;
    static std::optional<Book> fromJson(const QByteArray& json);
};

// Lays `markdown` out and writes the PDF to `pdfPath`. Pictures are looked up
// by their file name in `pictureFolder`. A picture that cannot be read or a
// PDF that cannot be written gives none, with the reason in `error`.
std::optional<Book> writeBook(const QString& markdown, const QString& pictureFolder, const QString& pdfPath,
                              const QString& title, QString* error);

} // namespace zelvo::guide
