// kit-gallery: renders every kit widget in each state at scales 1 and 2 into a
// folder of PNG files (default: the current folder).
#include "ui/kit/gallery/Gallery.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QTextStream out(stdout);
    int count = 0;
    for (double scale : {1.0, 2.0})
        for (const QString& file : zelvo::kit::writeGallery(folder, scale)) {
            out << file << "\n";
            ++count;
        }
    return count == 2 * zelvo::kit::gallerySheets().size() ? 0 : 1;
}
