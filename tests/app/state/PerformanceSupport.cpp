#include "PerformanceSupport.h"

#include "library/BeatGrid.h"
#include "library/TrackBuffer.h"
#include "library/TrackRecord.h"

#include <QKeyEvent>
#include <QTest>
#include <QVBoxLayout>

namespace zelvo::test {

bool KeyRecorder::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
        seen.emplace_back(event->type(), static_cast<QKeyEvent*>(event)->key());
    return QWidget::event(event);
}

PerformanceRig::PerformanceRig(bool output)
{
    if (output)
        rig.addOutput();
    rig.make();
    app().setPerformanceLink(std::make_unique<FakePerformance>(rig.world.journal, fake));
    booted = output ? rig.bootWithOutput() : (app().boot(), settle());
    for (int i = 0; i < 2 && output; ++i) {
        TrackRecord record;
        record.id = QUuid::createUuid();
        record.title = QStringLiteral("Deck %1").arg(i + 1);
        record.duration = 60.0;
        record.grid = BeatGrid(120.0, 0.0);
        deck(i).install(record, TrackBufferRef(48000 * 60, 48000.0), nullptr, false);
    }
    render();
    field = new QLineEdit(&window);
    window.setLayout(new QVBoxLayout);
    window.layout()->addWidget(field);
    window.resize(200, 80);
    window.show();
    window.activateWindow();
    booted = QTest::qWaitForWindowActive(&window) && booted;
    window.setFocus();
    rig.world.journal.clear();
}

void PerformanceRig::render()
{
    for (int i = 0; i < 3; ++i)
        rig.backend->pump(0.02);
    for (int i = 0; i < 2; ++i)
        deck(i).refreshLive();
}

void PerformanceRig::press(int key, const QString& text, Qt::KeyboardModifiers mods, bool repeat)
{
    QTest::simulateEvent(window.windowHandle(), true, key, mods, text, repeat);
}

void PerformanceRig::release(int key, const QString& text, Qt::KeyboardModifiers mods, bool repeat)
{
    QTest::simulateEvent(window.windowHandle(), false, key, mods, text, repeat);
}

void PerformanceRig::tap(int key, const QString& text, Qt::KeyboardModifiers mods)
{
    press(key, text, mods);
    release(key, text, mods);
}

std::vector<std::pair<QEvent::Type, int>> PerformanceRig::passedOn()
{
    return std::exchange(window.seen, {});
}

} // namespace zelvo::test
