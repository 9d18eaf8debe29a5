#pragma once
// What the interface shows of the model server: a case, with a text for the
// three cases that carry one, and the upper-case label of the status lamps.
#include <QString>

namespace zelvo {

struct BrainStatus {
    enum class Kind { installing, loading, failed, checking, notInstalled, offline, starting, ready, rendering };

    Kind kind = Kind::checking;
    QString text; // for installing, loading and failed

    static BrainStatus installing(QString t) { return {Kind::installing, std::move(t)}; }
    static BrainStatus loading(QString t) { return {Kind::loading, std::move(t)}; }
    static BrainStatus failed(QString t) { return {Kind::failed, std::move(t)}; }
    static BrainStatus of(Kind kind) { return {kind, {}}; }

    bool carriesText() const { return kind == Kind::installing || kind == Kind::loading || kind == Kind::failed; }

    // "INSTALL · <TEXT>", "LOADING · <TEXT>", "FAULT · <TEXT>", "CHECKING",
    // "NOT INSTALLED", "OFFLINE", "WAKING", "READY", "RENDERING". Any thread.
    QString label() const;

    // The case, and the text for the cases that carry one.
    friend bool operator==(const BrainStatus& a, const BrainStatus& b)
    {
        return a.kind == b.kind && (!a.carriesText() || a.text == b.text);
    }
};

} // namespace zelvo
