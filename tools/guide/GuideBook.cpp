#include "GuideBook.h"

#include <QAbstractTextDocumentLayout>
#include <QFileInfo>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace zelvo::guide {
namespace {

// Device units of the PDF: 300 per inch, so points convert by 300 / 72.
constexpr int kDpi = 300;
constexpr double pt(double points)
{
    return points * kDpi / 72.0;
}

// Lengths in text formats (margins, padding, borders, picture sizes) are
// screen pixels, which the layout scales by the device's resolution over the
// screen's; `fp` converts points to them.
double gScreenDpi = 96;
double fp(double points)
{
    return points * gScreenDpi / 72.0;
}

const QColor kInk(0x1c, 0x1c, 0x21);
const QColor kAccent(0xb8, 0x45, 0x14);
const QColor kMuted(0x6a, 0x6a, 0x73);
const QColor kRule(0xb4, 0xb4, 0xbb);
const QColor kShade(0xee, 0xee, 0xf1);

// The widest a picture is kept, in pixels: enough for the text width at 300 dpi.
constexpr int kPictureWidth = 1800;

QFont font(const QString& family, double points, bool bold = false)
{
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QFont sans(double points, bool bold = false)
{
    return font(QStringLiteral("DejaVu Sans"), points, bold);
}

QFont mono(double points)
{
    QFont f = font(QStringLiteral("DejaVu Sans Mono"), points);
    f.setStyleHint(QFont::Monospace);
    return f;
}

void prepare(QTextDocument& doc, QPaintDevice* device)
{
    doc.documentLayout()->setPaintDevice(device);
    doc.setDocumentMargin(0);
    doc.setDefaultFont(sans(10));
    doc.setUseDesignMetrics(true);
}

QTextCursor wholeBlock(const QTextBlock& block)
{
    QTextCursor c(block);
    c.movePosition(QTextCursor::StartOfBlock);
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    return c;
}

bool monospaced(const QTextCharFormat& f)
{
    return f.fontFixedPitch() || f.font().fixedPitch();
}

// Headings, paragraphs, code and chapter breaks. Returns the chapters'
// heading blocks.
std::vector<QTextBlock> styleText(QTextDocument& doc)
{
    std::vector<QTextBlock> chapters;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        QTextCursor c(b);
        QTextBlockFormat bf = b.blockFormat();
        const int level = bf.headingLevel();
        bool code = !b.text().isEmpty();
        for (auto it = b.begin(); code && !it.atEnd(); ++it)
            code = monospaced(it.fragment().charFormat());
        if (level > 0) {
            // A heading's own format replaces the imported one (whose size
            // is a relative step the layout does not apply).
            QTextCharFormat cf;
            cf.setFont(sans(level == 1 ? 22 : level == 2 ? 13.5 : 11, true));
            cf.setFontPointSize(level == 1 ? 22 : level == 2 ? 13.5 : 11);
            cf.setForeground(level == 1 ? kAccent : kInk);
            wholeBlock(b).setCharFormat(cf);
            bf.setTopMargin(level == 1 ? 0 : fp(14));
            bf.setBottomMargin(fp(level == 1 ? 16 : 6));
            if (level == 1) {
                // Every chapter but the first starts a page.
                if (!chapters.empty())
                    bf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                chapters.push_back(b);
            }
            bf.setProperty(QTextFormat::BlockNonBreakableLines, true);
        } else if (code && !c.currentTable()) {
            QTextCharFormat cf;
            cf.setFont(mono(8.5));
            wholeBlock(b).mergeCharFormat(cf);
            bf.setBackground(kShade);
            bf.setLeftMargin(fp(8));
            bf.setTopMargin(fp(2));
            bf.setBottomMargin(fp(2));
        } else {
            bf.setBottomMargin(b.textList() ? fp(3) : fp(6));
            bf.setLineHeight(128, QTextBlockFormat::ProportionalHeight);
        }
        c.setBlockFormat(bf);
        // Inline code inside running text.
        if (!code) {
            std::vector<std::pair<int, int>> spans;
            for (auto it = b.begin(); !it.atEnd(); ++it)
                if (monospaced(it.fragment().charFormat()))
                    spans.emplace_back(it.fragment().position(), it.fragment().length());
            for (const auto& [at, length] : spans) {
                QTextCursor s(&doc);
                s.setPosition(at);
                s.setPosition(at + length, QTextCursor::KeepAnchor);
                QTextCharFormat cf;
                cf.setFontFamilies({QStringLiteral("DejaVu Sans Mono")});
                cf.setForeground(kAccent.darker(130));
                s.mergeCharFormat(cf);
            }
        }
    }
    return chapters;
}

QString cellText(const QTextTableCell& cell)
{
    QTextCursor c = cell.firstCursorPosition();
    c.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
    return c.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')).trimmed();
}

std::vector<QTextTable*> tablesOf(QTextFrame* frame)
{
    std::vector<QTextTable*> out;
    for (QTextFrame* child : frame->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(child))
            out.push_back(table);
        const auto inner = tablesOf(child);
        out.insert(out.end(), inner.begin(), inner.end());
    }
    return out;
}

// Rules, padding and a shaded header row that repeats over a page break.
void styleTables(QTextDocument& doc, std::vector<std::vector<QStringList>>* cells)
{
    for (QTextTable* t : tablesOf(doc.rootFrame())) {
        QTextTableFormat tf = t->format();
        tf.setBorder(fp(0.6));
        tf.setBorderBrush(kRule);
        tf.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        tf.setBorderCollapse(true);
        tf.setCellSpacing(0);
        tf.setCellPadding(fp(3.5));
        tf.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        tf.setHeaderRowCount(1);
        tf.setTopMargin(fp(4));
        tf.setBottomMargin(fp(10));
        t->setFormat(tf);
        std::vector<QStringList> rows;
        for (int r = 0; r < t->rows(); ++r) {
            QStringList row;
            for (int c = 0; c < t->columns(); ++c) {
                QTextTableCell cell = t->cellAt(r, c);
                row << cellText(cell);
                // Size and weight only: code in a cell stays monospaced.
                QTextCharFormat cf;
                cf.setFontPointSize(9);
                if (r == 0)
                    cf.setFontWeight(QFont::Bold);
                if (r == 0) {
                    QTextCharFormat shade = cell.format();
                    shade.setBackground(kShade);
                    cell.setFormat(shade);
                }
                QTextCursor all = cell.firstCursorPosition();
                all.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
                all.mergeCharFormat(cf);
            }
            rows.push_back(row);
        }
        cells->push_back(rows);
    }
}

// Loads every picture the text names, sized to the text's width and at most
// `tallest` high. False when one cannot be read.
bool placePictures(QTextDocument& doc, const QString& folder, double width, double tallest, QStringList* placed,
                   QString* error)
{
    struct Spot {
        int at;
        int length;
        QTextImageFormat format;
    };
    std::vector<Spot> spots;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                spots.push_back({it.fragment().position(), it.fragment().length(),
                                 it.fragment().charFormat().toImageFormat()});
    for (Spot& spot : spots) {
        const QString name = spot.format.name();
        const QString path = QDir(folder).filePath(QUrl(name).path());
        QImage image(path);
        if (image.isNull()) {
            *error = QStringLiteral("cannot read the picture ") + path;
            return false;
        }
        image = image.convertToFormat(QImage::Format_RGB32);
        if (image.width() > kPictureWidth)
            image = image.scaledToWidth(kPictureWidth, Qt::SmoothTransformation);
        doc.addResource(QTextDocument::ImageResource, QUrl(name), image);
        double w = width;
        double h = w * image.height() / image.width();
        if (h > tallest) {
            w *= tallest / h;
            h = tallest;
        }
        // `width` and `tallest` are device units.
        const double toFormat = gScreenDpi / kDpi;
        spot.format.setWidth(w * toFormat);
        spot.format.setHeight(h * toFormat);
        QTextCursor c(&doc);
        c.setPosition(spot.at);
        c.setPosition(spot.at + spot.length, QTextCursor::KeepAnchor);
        c.setCharFormat(spot.format);
        QTextBlockFormat centred = c.blockFormat();
        centred.setAlignment(Qt::AlignHCenter);
        // A line as tall as the picture, no leading below it.
        centred.setLineHeight(100, QTextBlockFormat::ProportionalHeight);
        centred.setTopMargin(fp(4));
        centred.setBottomMargin(fp(4));
        c.setBlockFormat(centred);
        placed->append(QFileInfo(path).fileName());
    }
    return true;
}

// The first pages: the title and the chapters with their page numbers.
void writeContents(QTextDocument& doc, const QString& title, const std::vector<Chapter>& chapters)
{
    QTextCursor c(&doc);
    QTextBlockFormat heading;
    heading.setTopMargin(fp(120));
    heading.setBottomMargin(fp(4));
    c.setBlockFormat(heading);
    QTextCharFormat big;
    big.setFont(sans(34, true));
    big.setForeground(kInk);
    c.insertText(title.section(QStringLiteral(" — "), 0, 0), big);
    QTextBlockFormat sub;
    sub.setBottomMargin(fp(64));
    QTextCharFormat subFormat;
    subFormat.setFont(sans(15));
    subFormat.setForeground(kAccent);
    c.insertBlock(sub);
    c.insertText(title.section(QStringLiteral(" — "), 1), subFormat);
    QTextBlockFormat label;
    label.setBottomMargin(fp(10));
    QTextCharFormat labelFormat;
    labelFormat.setFont(sans(13, true));
    labelFormat.setForeground(kInk);
    c.insertBlock(label);
    c.insertText(QStringLiteral("Contents"), labelFormat);

    QTextTableFormat tf;
    tf.setBorder(0);
    tf.setCellSpacing(0);
    tf.setCellPadding(fp(4));
    tf.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    tf.setColumnWidthConstraints({QTextLength(QTextLength::PercentageLength, 88),
                                  QTextLength(QTextLength::PercentageLength, 12)});
    QTextTable* table = c.insertTable(int(chapters.size()), 2, tf);
    QTextCharFormat entry;
    entry.setFont(sans(11));
    entry.setForeground(kInk);
    QTextCharFormat number = entry;
    number.setForeground(kMuted);
    for (int i = 0; i < int(chapters.size()); ++i) {
        QTextCursor name = table->cellAt(i, 0).firstCursorPosition();
        name.insertText(chapters[std::size_t(i)].title, entry);
        QTextCursor page = table->cellAt(i, 1).firstCursorPosition();
        QTextBlockFormat right;
        right.setAlignment(Qt::AlignRight);
        page.setBlockFormat(right);
        page.insertText(QString::number(chapters[std::size_t(i)].page), number);
    }
}

} // namespace

std::optional<Book> writeBook(const QString& markdown, const QString& pictureFolder, const QString& pdfPath,
                              const QString& title, QString* error)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        gScreenDpi = std::round(screen->logicalDotsPerInchY());
    QPdfWriter writer(pdfPath);
    writer.setResolution(kDpi);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(20, 18, 20, 14), QPageLayout::Millimeter);
    writer.setTitle(title);
    writer.setCreator(QStringLiteral("kavri-zelvo-guide"));
    const double width = writer.width();
    const double footer = pt(22);
    const double pageHeight = writer.height() - footer;

    Book book;
    QTextDocument body;
    prepare(body, &writer);
    body.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    const std::vector<QTextBlock> headings = styleText(body);
    styleTables(body, &book.tables);
    if (!placePictures(body, pictureFolder, width, 0.62 * pageHeight, &book.pictures, error))
        return std::nullopt;
    body.setPageSize(QSizeF(width, pageHeight));

    std::vector<int> chapterPages;
    for (const QTextBlock& b : headings) {
        const double top = body.documentLayout()->blockBoundingRect(b).top();
        chapterPages.push_back(int(std::floor((top + 1) / pageHeight)));
        book.chapters.push_back({b.text(), 0});
    }

    QTextDocument contents;
    prepare(contents, &writer);
    writeContents(contents, title, book.chapters);
    contents.setPageSize(QSizeF(width, pageHeight));
    book.contentsPages = contents.pageCount();
    for (std::size_t i = 0; i < book.chapters.size(); ++i)
        book.chapters[i].page = book.contentsPages + chapterPages[i] + 1;
    // Again with the real numbers (they take no more room).
    contents.clear();
    writeContents(contents, title, book.chapters);

    QPainter painter;
    if (!painter.begin(&writer)) {
        *error = QStringLiteral("cannot write ") + pdfPath;
        return std::nullopt;
    }
    const auto paint = [&](QTextDocument& doc, bool numbered) {
        for (int i = 0; i < doc.pageCount(); ++i) {
            if (book.pages > 0)
                writer.newPage();
            ++book.pages;
            painter.save();
            painter.translate(0, -i * pageHeight);
            doc.drawContents(&painter, QRectF(0, i * pageHeight, width, pageHeight));
            painter.restore();
            if (!numbered)
                continue;
            painter.save();
            painter.setPen(QPen(kRule, pt(0.5)));
            painter.drawLine(QPointF(0, pageHeight + pt(8)), QPointF(width, pageHeight + pt(8)));
            painter.setFont(sans(8));
            painter.setPen(kMuted);
            const QRectF band(0, pageHeight + pt(10), width, footer - pt(10));
            painter.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, title);
            painter.drawText(band, Qt::AlignRight | Qt::AlignVCenter, QString::number(book.pages));
            painter.restore();
        }
    };
    paint(contents, false);
    paint(body, true);
    if (!painter.end()) {
        *error = QStringLiteral("cannot finish ") + pdfPath;
        return std::nullopt;
    }
    book.text = body.toPlainText();
    return book;
}

QString Book::toJson() const
{
    QJsonObject o;
    o[QStringLiteral("pages")] = pages;
    o[QStringLiteral("contentsPages")] = contentsPages;
    QJsonArray list;
    for (const Chapter& c : chapters)
        list.append(QJsonObject{{QStringLiteral("title"), c.title}, {QStringLiteral("page"), c.page}});
    o[QStringLiteral("chapters")] = list;
    o[QStringLiteral("pictures")] = QJsonArray::fromStringList(pictures);
    QJsonArray all;
    for (const auto& table : tables) {
        QJsonArray rows;
        for (const QStringList& row : table)
            rows.append(QJsonArray::fromStringList(row));
        all.append(rows);
    }
    o[QStringLiteral("tables")] = all;
    o[QStringLiteral("text")] = text;
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented));
}

std::optional<Book> Book::fromJson(const QByteArray& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    Book book;
    book.pages = o.value(QStringLiteral("pages")).toInt();
    book.contentsPages = o.value(QStringLiteral("contentsPages")).toInt();
    for (const QJsonValue& c : o.value(QStringLiteral("chapters")).toArray())
        book.chapters.push_back({c[QStringLiteral("title")].toString(), c[QStringLiteral("page")].toInt()});
    for (const QJsonValue& p : o.value(QStringLiteral("pictures")).toArray())
        book.pictures << p.toString();
    for (const QJsonValue& t : o.value(QStringLiteral("tables")).toArray()) {
        std::vector<QStringList> rows;
        for (const QJsonValue& r : t.toArray()) {
            QStringList row;
            for (const QJsonValue& cell : r.toArray())
                row << cell.toString();
            rows.push_back(row);
        }
        book.tables.push_back(rows);
    }
    book.text = o.value(QStringLiteral("text")).toString();
    return book;
}

} // namespace zelvo::guide
