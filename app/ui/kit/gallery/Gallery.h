#pragma once
// Every kit widget in each of its states on a few sheets, rendered to PNG for
// review. Main thread; needs a QApplication.
#include "ui/kit/UiEnv.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <memory>

class QWidget;

namespace zelvo::kit {

// The sheet names, in order.
QStringList gallerySheets();
// Builds one sheet; `env` must outlive it.
std::unique_ptr<QWidget> buildGallerySheet(const QString& name, const UiEnv& env);
// Renders every sheet at `scale` into `folder` as "<sheet>@<scale>x.png";
// returns the files written.
QStringList writeGallery(const QString& folder, double scale);

} // namespace zelvo::kit
