#include "ui/stage/KeyForm.h"

#include "state/AppModel.h"
#include "generation/ContentService.h"
#include "ui/stage/SettingsStyle.h"
#include "ui/stage/StatusPresenters.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelvo {

using stage::CaptionStyle;

KavriKeyForm::KavriKeyForm(AppModel& app, kit::UiEnv env, QWidget* parent) : QWidget(parent), app_(app), env_(env)
{
    setObjectName(QStringLiteral("keyForm"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    QLabel* caption = stage::captionLabel(stage::keyExplanation(), CaptionStyle::secondary,
                                          QStringLiteral("keyForm.caption"), this);
    caption->setTextFormat(Qt::MarkdownText);
    column->addWidget(caption);

    auto* keyRow = new QHBoxLayout;
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("keyForm.field"));
    field_->setEchoMode(QLineEdit::Password);
    saveKey_ = new QPushButton(QStringLiteral("Save"), this);
    saveKey_->setObjectName(QStringLiteral("keyForm.save"));
    forgetKey_ = new QPushButton(QStringLiteral("Forget"), this);
    forgetKey_->setObjectName(QStringLiteral("keyForm.forget"));
    keyRow->addWidget(field_, 1);
    keyRow->addWidget(saveKey_);
    keyRow->addWidget(forgetKey_);
    column->addLayout(keyRow);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    spinner_ = new QProgressBar(this);
    spinner_->setObjectName(QStringLiteral("keyForm.spinner"));
    spinner_->setRange(0, 0);
    spinner_->setTextVisible(false);
    spinner_->setFixedSize(36, 8);
    check_ = stage::captionLabel({}, CaptionStyle::secondary, QStringLiteral("keyForm.check"), this);
    auto* signUp = new QPushButton(QStringLiteral("Get a free key"), this);
    signUp->setObjectName(QStringLiteral("keyForm.signUp"));
    signUp->setFlat(true);
    signUp->setCursor(Qt::PointingHandCursor);
    statusRow->addWidget(spinner_);
    statusRow->addWidget(check_, 1);
    statusRow->addWidget(signUp);
    column->addLayout(statusRow);

    progressRow_ = new QWidget(this);
    auto* progressColumn = new QVBoxLayout(progressRow_);
    progressColumn->setContentsMargins(0, 0, 0, 0);
    progressColumn->setSpacing(2);
    progress_ = new QProgressBar(progressRow_);
    progress_->setObjectName(QStringLiteral("keyForm.progress"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progressText_ = stage::captionLabel({}, CaptionStyle::primary, QStringLiteral("keyForm.progressText"), progressRow_);
    progressColumn->addWidget(progress_);
    progressColumn->addWidget(progressText_);
    column->addWidget(progressRow_);

    installRow_ = new QWidget(this);
    auto* installLine = new QHBoxLayout(installRow_);
    installLine->setContentsMargins(0, 0, 0, 0);
    auto* install = new QPushButton(QStringLiteral("Install from the CDN"), installRow_);
    install->setObjectName(QStringLiteral("keyForm.install"));
    shortfall_ = stage::captionLabel({}, CaptionStyle::error, QStringLiteral("keyForm.shortfall"), installRow_);
    installLine->addWidget(install);
    installLine->addWidget(shortfall_, 1);
    column->addWidget(installRow_);

    connect(saveKey_, &QPushButton::clicked, this, &KavriKeyForm::save);
    connect(field_, &QLineEdit::returnPressed, this, &KavriKeyForm::save);
    connect(field_, &QLineEdit::textChanged, this, &KavriKeyForm::refresh);
    connect(forgetKey_, &QPushButton::clicked, this, [this] { app_.status().forgetKey(); });
    connect(signUp, &QPushButton::clicked, this, [this] {
        if (env_.desktop)
            env_.desktop->openUrl(KavriAccount::signUp());
    });
    connect(install, &QPushButton::clicked, this, [this] { app_.installBrain(); });
    StatusLink& link = app_.status();
    connect(&link, &StatusLink::accountChanged, this, &KavriKeyForm::refresh);
    connect(&link, &StatusLink::downloadChanged, this, &KavriKeyForm::refresh);
    connect(&link, &StatusLink::brainStatusChanged, this, &KavriKeyForm::refresh);
    refresh();
}

void KavriKeyForm::save()
{
    // The draft is emptied whatever the save makes of it.
    const QString draft = field_->text();
    field_->clear();
    app_.status().saveKey(draft);
    refresh();
}

void KavriKeyForm::refresh()
{
    const StatusLink& link = app_.status();
    stage::KeyFormInputs in;
    in.key = link.accountKey();
    in.masked = link.accountMasked();
    in.check = link.accountCheck();
    in.status = app_.brain().status().kind;
    in.fraction = link.downloadFraction();
    in.shortfall = link.shortfall();
    in.downloadDetail = in.status == BrainStatus::Kind::installing ? app_.downloadDetail() : QString();
    in.draft = field_->text();
    const stage::KeyFormFace face = stage::keyFormFace(in);

    field_->setPlaceholderText(face.placeholder);
    saveKey_->setEnabled(face.saveEnabled);
    forgetKey_->setVisible(face.forget);
    using Style = stage::KeyFormFace::Style;
    spinner_->setVisible(face.checkStyle == Style::busy);
    check_->setText(face.checkText);
    stage::setCaptionStyle(check_, face.checkStyle == Style::primary ? CaptionStyle::primary
                                   : face.checkStyle == Style::error ? CaptionStyle::error
                                                                     : CaptionStyle::secondary);
    using Install = stage::KeyFormFace::Install;
    progressRow_->setVisible(face.install == Install::progress);
    progress_->setValue(int(face.fraction * 1000.0 + 0.5));
    progressText_->setText(face.progressText);
    installRow_->setVisible(face.install == Install::key);
    shortfall_->setText(face.shortfall);
    shortfall_->setVisible(!face.shortfall.isEmpty());
}

} // namespace zelvo
