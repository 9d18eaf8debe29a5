#include "shell/ImportChooser.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

namespace zelvo {
namespace {

// Rows from the root down to `index`: comparing these orders items as the tree shows them.
std::vector<int> rowPath(QModelIndex index)
{
    std::vector<int> rows;
    for (; index.isValid(); index = index.parent())
        rows.push_back(index.row());
    std::reverse(rows.begin(), rows.end());
    return rows;
}

} // namespace

ImportChooser::ImportChooser(const QString& start, QWidget* parent)
    : QDialog(parent), model_(new QFileSystemModel(this)), tree_(new QTreeView(this))
{
    setObjectName(QStringLiteral("importChooser"));
    setWindowTitle(tr("Import Music"));
    setModal(true);
    resize(720, 480);

    model_->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
    model_->setRootPath(QDir::rootPath());
    tree_->setObjectName(QStringLiteral("importChooser.tree"));
    tree_->setModel(model_);
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    const QString opening = QDir(start).exists() ? start : QDir::homePath();
    const QModelIndex startIndex = model_->index(opening);
    tree_->setCurrentIndex(startIndex);
    tree_->expand(startIndex);
    tree_->scrollTo(startIndex, QAbstractItemView::PositionAtTop);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* import = buttons->addButton(tr("Import"), QDialogButtonBox::AcceptRole);
    import->setObjectName(QStringLiteral("importChooser.import"));
    import->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("importChooser.cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_);
    layout->addWidget(buttons);
}

QStringList ImportChooser::chosen() const
{
    QModelIndexList rows = tree_->selectionModel()->selectedRows(0);
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return rowPath(a) < rowPath(b); });
    QStringList paths;
    for (const QModelIndex& index : rows)
        paths.append(model_->filePath(index));
    return paths;
}

QStringList ImportChooser::ask(const QString& start, QWidget* parent)
{
    ImportChooser chooser(start, parent);
    if (chooser.exec() != QDialog::Accepted)
        return {};
    return chooser.chosen();
}

} // namespace zelvo
