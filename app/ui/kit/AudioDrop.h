#pragma once
// Dropping files on a view: model adapters among them are installed, the rest
// go to the view's own action. No drop target in a still render. Main thread.
#include "ui/kit/UiEnv.h"

#include <QList>
#include <QObject>
#include <QUrl>
#include <functional>

class QWidget;

namespace zelvo::kit {

struct DropSplit {
    QList<QUrl> adapters; // in dropped order
    QList<QUrl> rest;     // every location not among the adapters, in dropped order
};
DropSplit splitDrop(const QList<QUrl>& dropped, const std::function<bool(const QUrl&)>& isAdapter);
// Calls `install` with the adapters (also when empty), then answers: accepted
// when only adapters were dropped (and some were), else the action's answer.
bool answerDrop(const DropSplit& split, const std::function<void(const QList<QUrl>&)>& install,
                const std::function<bool(const QList<QUrl>&)>& action);
// The adapter test on a dropped location: local files only.
bool isAdapterUrl(const QUrl& url);

class AudioDrop : public QObject {
    Q_OBJECT
public:
    using Installer = std::function<void(const QList<QUrl>&)>;
    using Action = std::function<bool(const QList<QUrl>&)>;

    // Makes `target` a drop target for file locations; returns null and leaves
    // the target untouched in a still render. The filter lives with the target.
    static AudioDrop* attach(QWidget* target, const UiEnv& env, Installer installAdapters, Action action);

    // Handles one drop as the target would.
    bool drop(const QList<QUrl>& urls);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AudioDrop(QWidget* target, Installer install, Action action);
    Installer install_;
    Action action_;
};

} // namespace zelvo::kit
