#pragma once
// The regions of the screen the guided tour can point at. A widget reports
// its bounds under a spot with `tourSpot`; `tourSpots` collects what is on
// screen under a root, in the root's coordinates (a later widget in tree
// order wins a spot reported twice).
//
// Main thread only.
#include <QRect>

#include <map>

class QWidget;

namespace zelvo {

enum class TourSpot { controller, lanes, crate, aiKey, mixer, flow };

void tourSpot(QWidget* widget, TourSpot spot);
// Withdraws every spot reported by `widget` or a widget under it.
void clearTourSpots(QWidget* widget);
std::map<TourSpot, QRect> tourSpots(const QWidget* root);

} // namespace zelvo
