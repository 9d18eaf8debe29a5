#include "shell/AppDelegate.h"
#include "shell/ImportChooser.h"
#include "shell/StandardNeighbours.h"

#include "state/AppLinks.h"
#include "state/AppModel.h"
#include "state/LaunchOptions.h"
#include "models/AudioSystem.h"
#include "platform/AtomicFile.h"
#include "platform/Scheduler.h"
#include "ui/instrument/Instrument.h"
#include "ui/kit/UiEnv.h"
#include "ui/stage/ControllerSides.h"
#include "ui/stage/RootView.h"
#include "ui/tour/TourOverlay.h"
#include "ui/tour/TourLiveViews.h"
#include "generation/BrainDownload.h"
#include "generation/BrainSupervisor.h"
#include "controllers/ControllerModel.h"
#include "generation/KavriAccount.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QStyleFactory>
#include <QWindow>
#include <algorithm>
#include <cmath>

namespace zelvo {
namespace {

const QColor kWindowBackground(3, 3, 4);

// Menus, tooltips and other popups are not windows of their own here.
bool isApplicationWindow(const QWidget* widget)
{
    if (!widget || !widget->isWindow())
        return false;
    const Qt::WindowType type = widget->windowType();
    return type == Qt::Window || type == Qt::Dialog || type == Qt::Tool;
}

// The application's windows, the active one first.
QWidgetList applicationWindows()
{
    QWidgetList windows;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (isApplicationWindow(widget))
            windows.append(widget);
    std::stable_sort(windows.begin(), windows.end(), [](const QWidget* a, const QWidget* b) {
        return a->isActiveWindow() && !b->isActiveWindow();
    });
    return windows;
}

QString windowLine(const QWidget& window)
{
    QString name = QString::fromLatin1(window.metaObject()->className());
    name = name.mid(name.lastIndexOf(QLatin1Char(':')) + 1);
    const QRect frame = window.frameGeometry();
    return QStringLiteral("%1 visible=%2 frame=(%3, %4, %5, %6)")
        .arg(name, window.isVisible() ? QStringLiteral("true") : QStringLiteral("false"))
        .arg(frame.x())
        .arg(frame.y())
        .arg(frame.width())
        .arg(frame.height());
}

// The snapshot path with its extension replaced by "txt", or "txt" added.
QString listPath(const QString& path)
{
    const QFileInfo info(path);
    const QString base = info.completeSuffix().isEmpty() || info.fileName().startsWith(QLatin1Char('.'))
                             ? path
                             : path.left(path.size() - info.suffix().size() - 1);
    return base + QStringLiteral(".txt");
}

} // namespace

void applyDarkLook()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette;
    palette.setColor(QPalette::Window, kWindowBackground);
    palette.setColor(QPalette::WindowText, QColor(226, 222, 210));
    palette.setColor(QPalette::Base, QColor(18, 18, 22));
    palette.setColor(QPalette::AlternateBase, QColor(28, 28, 32));
    palette.setColor(QPalette::Text, QColor(226, 222, 210));
    palette.setColor(QPalette::Button, QColor(28, 28, 32));
    palette.setColor(QPalette::ButtonText, QColor(226, 222, 210));
    palette.setColor(QPalette::Highlight, QColor(214, 120, 40));
    palette.setColor(QPalette::HighlightedText, QColor(3, 3, 4));
    palette.setColor(QPalette::ToolTipBase, QColor(28, 28, 32));
    palette.setColor(QPalette::ToolTipText, QColor(226, 222, 210));
    palette.setColor(QPalette::PlaceholderText, QColor(120, 118, 112));
    QApplication::setPalette(palette);
}

AppDelegate::AppDelegate(AppModel& model, Scheduler& scheduler, QStringList arguments,
                         std::optional<QByteArray> snapshotDelay, QObject* parent, StandardNeighbours* neighbours)
    : QObject(parent)
    , model_(model)
    , scheduler_(scheduler)
    , ui_(std::make_unique<kit::UiRuntime>(scheduler, desktop_))
    , arguments_(std::move(arguments))
    , snapshotDelay_(std::move(snapshotDelay))
    , forcedSize_(launch::forcedWindowSize(arguments_))
    , quit_([] { QCoreApplication::quit(); })
{
    // The status bar's update notice quits through the shell's own path.
    model_.status().setQuit([this] { quit(); });
    // "Import Music…" and the browsers' import keys ask with the modal chooser.
    model_.setImportChooser([](const QString& start) { return ImportChooser::ask(start, QApplication::activeWindow()); });
    window_ = new QMainWindow;
    window_->setObjectName(QStringLiteral("mainWindow"));
    window_->setWindowTitle(QStringLiteral("kavri zelvo"));
    auto* root = new RootView(model_, ui_->env(), window_, neighbours ? neighbours->outpaint : nullptr);
    if (neighbours && neighbours->controller)
        stage::followController(root->sides(), *neighbours->controller);
    root->setMinimumSize(kMinimumWidth, kMinimumHeight);
    window_->setCentralWidget(root);
    if (neighbours && neighbours->tour)
        addTour(*root, *neighbours);
    buildMenus();
    window_->resize(kDefaultWidth, kDefaultHeight + window_->menuBar()->sizeHint().height());

    // Closing the last window quits, and quitting shuts the state root down once.
    QGuiApplication::setQuitOnLastWindowClosed(true);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { model_.shutdown(); });
}

AppDelegate::~AppDelegate()
{
    model_.status().setQuit({});
    if (watching_)
        qApp->removeEventFilter(this);
    delete window_;
}

void AppDelegate::buildMenus()
{
    QMenuBar* bar = window_->menuBar();
    const auto add = [this](QMenu* menu, const QString& name, const QString& title, QKeySequence keys,
                            std::function<void()> act) {
        QAction* action = menu->addAction(title);
        action->setObjectName(name);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::ApplicationShortcut);
        connect(action, &QAction::triggered, this, [act = std::move(act)] { act(); });
    };

    QMenu* file = bar->addMenu(QStringLiteral("File"));
    add(file, QStringLiteral("menu.import"), QStringLiteral("Import Music\u2026"), QKeySequence(Qt::CTRL | Qt::Key_O),
        [this] { model_.importPanel(); });
    file->addSeparator();
    add(file, QStringLiteral("menu.quit"), QStringLiteral("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q),
        [this] { quit(); });

    QMenu* brain = bar->addMenu(QStringLiteral("zelvo-0"));
    add(brain, QStringLiteral("menu.fork"), QStringLiteral("Fork Deck 1"), QKeySequence(Qt::CTRL | Qt::Key_G),
        [this] { model_.outpaint().fork(true); });
    add(brain, QStringLiteral("menu.extend"), QStringLiteral("Extend zelvo-0's Deck"),
        QKeySequence(Qt::CTRL | Qt::Key_T), [this] { model_.outpaint().extend(false); });
    add(brain, QStringLiteral("menu.drop"), QStringLiteral("Drop zelvo-0 In"), QKeySequence(Qt::CTRL | Qt::Key_D),
        [this] { model_.outpaint().drop(); });
    brain->addSeparator();
    add(brain, QStringLiteral("menu.restart"), QStringLiteral("Restart zelvo-0"), QKeySequence(), [this] {
        model_.brain().stop();
        model_.brain().start(AppModel::kWarmSeconds);
    });

    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    add(help, QStringLiteral("menu.tour"), QStringLiteral("Welcome Tour"), QKeySequence(),
        [this] { model_.tour().startWelcome(); });
    add(help, QStringLiteral("menu.guide"), QStringLiteral("Field Guide (PDF)"), QKeySequence(),
        [this] { model_.openGuide(desktop_, AppModel::guideFolder(QCoreApplication::applicationDirPath())); });
}

QAction* AppDelegate::action(const QString& name) const
{
    return window_->findChild<QAction*>(name);
}

void AppDelegate::launched()
{
    dressWindows();
    model_.boot();
    const qsizetype at = arguments_.indexOf(QStringLiteral("--snapshot"));
    if (at >= 0 && at + 1 < arguments_.size())
        snapshot(arguments_[at + 1]);
}

void AppDelegate::dressWindows()
{
    for (QWidget* widget : applicationWindows())
        if (!widget->property(kDressedProperty).toBool())
            dress(*widget);
    if (!watching_) {
        watching_ = true;
        qApp->installEventFilter(this);
    }
}

void AppDelegate::dress(QWidget& window)
{
    window.setProperty(kDressedProperty, true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, kWindowBackground);
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.installEventFilter(this);
    if (!forcedSize_)
        return;
    // The forced size is the content's; below the usual minimum it lowers it.
    const int width = std::max(1, int(std::lround(forcedSize_->width())));
    const int height = std::max(1, int(std::lround(forcedSize_->height())));
    if (auto* main = qobject_cast<QMainWindow*>(&window)) {
        if (QWidget* content = main->centralWidget())
            content->setMinimumSize(std::min(width, kMinimumWidth), std::min(height, kMinimumHeight));
        // The window's own minimum follows its layout only on the next turn of
        // the event loop; bring it down now, or it would clamp the resize.
        if (main->layout())
            main->layout()->activate();
        const int menu = main->menuBar()->isNativeMenuBar() ? 0 : main->menuBar()->sizeHint().height();
        main->resize(width, height + menu);
    } else {
        window.setMinimumSize(std::min(window.minimumWidth(), width), std::min(window.minimumHeight(), height));
        window.resize(width, height);
    }
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (isApplicationWindow(widget) && !widget->property(kDressedProperty).toBool())
            dress(*widget);
    } else if (event->type() == QEvent::MouseButtonPress) {
        // A press that no control took reaches the window itself: the background.
        auto* widget = qobject_cast<QWidget*>(watched);
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (widget && widget->isWindow() && mouse->button() == Qt::LeftButton && widget->windowHandle()
            && widget->property(kDressedProperty).toBool()) {
            widget->windowHandle()->startSystemMove();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::snapshot(const QString& path)
{
    const double delay = launch::snapshotDelay(arguments_, snapshotDelay_);
    const bool faceplate = model_.classicFaceplate();
    const QPointer<AppDelegate> self(this);
    scheduler_.runAfter(delay, [self, path, faceplate] {
        if (!self)
            return;
        if (faceplate)
            self->faceplateSnapshot(path);
        else
            self->stageSnapshot(path);
    });
}

void AppDelegate::stageSnapshot(const QString& path)
{
    QStringList lines;
    const QWidgetList windows = applicationWindows();
    for (const QWidget* window : windows)
        lines.append(windowLine(*window));
    writeFileAtomically(listPath(path), lines.join(QLatin1Char('\n')).toUtf8());

    for (QWidget* window : windows) {
        if (window->isVisible() && window->frameGeometry().height() > kSnapshotWindowHeight) {
            QWidget* content = window;
            if (auto* main = qobject_cast<QMainWindow*>(window); main && main->centralWidget())
                content = main->centralWidget();
            const QPixmap image = content->grab();
            if (!image.isNull())
                image.save(path, "PNG");
            break;
        }
    }
    if (!arguments_.contains(QStringLiteral("--stay")))
        quit();
}

void AppDelegate::faceplateSnapshot(const QString& path)
{
    const QSizeF canvas = launch::designSize(launch::forcedWindowSize(arguments_));
    const QSize points(int(std::lround(canvas.width())), int(std::lround(canvas.height())));
    {
        kit::SystemDesktopServices desktop;
        kit::UiRuntime runtime(scheduler_, desktop, true, kit::snapshotFaceScale(canvas.width()));
        // The still shows the live faceplate's controller layout and pending fork.
        const auto* root = qobject_cast<RootView*>(window_->centralWidget());
        const Instrument* live = root ? root->instrument() : nullptr;
        Instrument face(model_, runtime.env(), nullptr, live ? live->sides() : nullptr,
                        live ? live->outpaint() : nullptr);
        face.setAttribute(Qt::WA_DontShowOnScreen);
        face.resize(points);
        // Shown (never on screen), the faceplate lays itself out at its final
        // size now; the render then paints what is laid out and moves nothing.
        face.show();
        QImage image(points * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2.0);
        image.fill(kWindowBackground);
        face.render(&image);
        image.save(path, "PNG");
    }
    quit();
}

void AppDelegate::addTour(RootView& root, StandardNeighbours& neighbours)
{
    ControllerModel* controller = neighbours.controller;
    auto inputs = [this, controller] {
        TourCopy::Inputs in;
        if (controller && controller->connected())
            in.controller = controller->connected()->kind;
        in.players = controller && !controller->players().empty();
        in.brainSize = model_.brainSize();
        return in;
    };
    auto* overlay = tour::welcomeTour(&root, *neighbours.tour, ui_->env().withScale(root.unitScale()), inputs);
    root.setOverlay(overlay);
    if (controller) {
        connect(controller, &ControllerModel::connectedChanged, overlay, &tour::TourOverlay::refresh);
        connect(controller, &ControllerModel::playersChanged, overlay, &tour::TourOverlay::refresh);
    }
    if (neighbours.account)
        connect(neighbours.account, &KavriAccount::checkChanged, overlay, &tour::TourOverlay::refresh);
    overlay->setLiveFactory([this, &neighbours, controller](TourModel::Step step) -> QWidget* {
        const kit::UiEnv env = ui_->env();
        switch (step) {
        case TourModel::Step::key: {
            if (!neighbours.account)
                return nullptr;
            BrainDownload* download = neighbours.download;
            BrainSupervisor* brain = neighbours.brain;
            auto read = [this, download, brain] {
                tour::DownloadInputs in;
                in.status = model_.brain().status();
                if (download) {
                    in.fraction = download->fraction();
                    in.started = download->started();
                    in.shortfall = download->shortfall();
                }
                in.detail = model_.downloadDetail();
                return in;
            };
            auto* key = new tour::TourKey(*neighbours.account, read, [this] { model_.installBrain(); }, env);
            // The bar inside follows the download and the supervisor.
            const auto follow = [key] {
                if (auto* bar = key->findChild<tour::TourDownloadBar*>())
                    bar->refresh();
            };
            if (download) {
                connect(download, &BrainDownload::doneChanged, key, follow);
                connect(download, &BrainDownload::totalChanged, key, follow);
                connect(download, &BrainDownload::shortfallChanged, key, follow);
            }
            if (brain)
                connect(brain, &BrainSupervisor::statusChanged, key, follow);
            return key;
        }
        case TourModel::Step::controller:
            return new tour::TourControllerLive(
                [this, controller] {
                    if (!controller)
                        return tour::controllerLine(std::nullopt, 0, std::nullopt, std::nullopt, 0);
                    std::optional<ControllerKind> kind;
                    if (controller->connected())
                        kind = controller->connected()->kind;
                    std::optional<PlayerModel> first;
                    if (!controller->players().empty())
                        first = controller->players().front().model;
                    std::optional<tour::EchoReading> echo;
                    if (const auto& e = controller->echo())
                        echo = tour::EchoReading{e->deck, e->title, e->value, e->stamp};
                    return tour::controllerLine(kind, int(controller->players().size()), first, echo,
                                                scheduler_.uptime());
                },
                env);
        case TourModel::Step::go: {
            auto* list = new tour::TourChecklist([this, &neighbours, controller] {
                std::optional<ControllerKind> kind;
                if (controller && controller->connected())
                    kind = controller->connected()->kind;
                const bool works = neighbours.account && neighbours.account->check().isOk();
                return tour::checklist(works, model_.brain().status(), model_.downloadDetail(), kind);
            });
            const auto follow = [list] { list->refresh(); };
            if (neighbours.account)
                connect(neighbours.account, &KavriAccount::checkChanged, list, follow);
            if (neighbours.brain)
                connect(neighbours.brain, &BrainSupervisor::statusChanged, list, follow);
            if (neighbours.download)
                connect(neighbours.download, &BrainDownload::doneChanged, list, follow);
            if (controller)
                connect(controller, &ControllerModel::connectedChanged, list, follow);
            return list;
        }
        default:
            return nullptr;
        }
    });
}

void AppDelegate::quit()
{
    if (quit_)
        quit_();
}

} // namespace zelvo
