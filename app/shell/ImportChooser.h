#pragma once
// The modal chooser of "Import Music…": one file-system tree in which files and
// folders are chosen together (extended selection), with "Import" and Cancel.
//
// Main thread only.
#include <QDialog>
#include <QString>
#include <QStringList>

class QFileSystemModel;
class QTreeView;

namespace zelvo {

class ImportChooser final : public QDialog {
    Q_OBJECT
public:
    // Opens on `start` (the music folder when it exists, else the home folder).
    explicit ImportChooser(const QString& start, QWidget* parent = nullptr);

    // The chosen paths in the order the tree shows them.
    QStringList chosen() const;

    // Runs the chooser modally; the chosen paths, or nothing when cancelled.
    static QStringList ask(const QString& start, QWidget* parent = nullptr);

private:
    QFileSystemModel* model_;
    QTreeView* tree_;
};

} // namespace zelvo
