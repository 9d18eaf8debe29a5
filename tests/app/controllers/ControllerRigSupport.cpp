#include "ControllerRigSupport.h"

#include <QCoreApplication>
#include <chrono>
#include <thread>

namespace zelvo::test {

MIDIHub::MainPoster PumpQueue::poster(const std::shared_ptr<PumpQueue>& queue)
{
    return [queue](MIDIHub::Task task) {
        std::lock_guard lock(queue->mutex_);
        queue->tasks_.push_back(std::move(task));
    };
}

int PumpQueue::pump()
{
    int ran = 0;
    for (;;) {
        std::vector<MIDIHub::Task> running;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty())
                return ran;
            std::swap(running, tasks_);
        }
        for (auto& task : running)
            (*task)();
        ran += int(running.size());
    }
}

ControllerRig::ControllerRig(QStringList arguments, std::function<UsbVendorOut(ControllerKind)> handshake,
                             MIDIHub::MainPoster post)
{
    ControllerModel::Setup setup;
    setup.midiSystem = [this] { return std::static_pointer_cast<MidiSystem>(midi); };
    setup.post = post ? std::move(post) : PumpQueue::poster(main);
    setup.handshake = handshake ? std::move(handshake) : [](ControllerKind) {
        return UsbVendorOut{7, UsbBackend::OpenStatus::opened};
    };
    model = std::make_unique<ControllerModel>(models.defaults, models.clock, std::move(arguments), &log,
                                              std::move(setup));
    model->setHost(&host);
    model->setOnHands([this] { ++hands; });
}

ControllerRig::~ControllerRig()
{
    model.reset();
}

SimulatedDdj& ControllerRig::plug(ControllerKind kind, std::string name)
{
    if (name.empty())
        name = kind == ControllerKind::flx10 ? "DDJ-FLX10" : "DDJ-FLX4";
    ddj.emplace(*midi, kind, name);
    settle();
    return *ddj;
}

void ControllerRig::settle()
{
    for (int i = 0; i < 3; ++i) {
        midi->flush();
        main->pump();
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
    }
}

void ControllerRig::run(double seconds)
{
    settle();
    models.run(seconds);
    settle();
}

bool ControllerRig::waitForLog(const QString& prefix)
{
    for (int i = 0; i < 200; ++i) {
        main->pump();
        for (const QString& line : log.lines)
            if (line.startsWith(prefix))
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

} // namespace zelvo::test
