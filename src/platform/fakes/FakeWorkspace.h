#pragma once

#include "platform/Workspace.h"

#include <QList>

#include <map>
#include <optional>

namespace snipjar {

// A scripted workspace for tests: the frontmost application is whatever the test sets, known
// applications are looked up by process id, and every activation is recorded.
class FakeWorkspace : public Workspace {
public:
    // How an activation affects the scripted state.
    enum class ActivationEffect {
        bringsToFront, // the activated application becomes frontmost at once
        none,          // the application never comes to the front
    };

    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<RunningApplication> application(qint64 processID) override;
    void activate(const RunningApplication& application) override;
    bool isActive(const RunningApplication& application) override;
    bool isMouseButtonHeld() override { return mouseButtonHeld; }

    // Makes an application known (for application(processID)) and optionally frontmost.
    void addApplication(const RunningApplication& application);
    void setFrontmost(const std::optional<RunningApplication>& application);

    ActivationEffect activationEffect = ActivationEffect::bringsToFront;
    // What isMouseButtonHeld() answers.
    bool mouseButtonHeld = false;

    // Every activation asked for.
    QList<RunningApplication> activations;

private:
    std::optional<RunningApplication> frontmost;
    std::map<qint64, RunningApplication> applications;
};

} // namespace snipjar
