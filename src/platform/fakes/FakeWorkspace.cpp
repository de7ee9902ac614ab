#include "platform/fakes/FakeWorkspace.h"

namespace snipjar {

std::optional<RunningApplication> FakeWorkspace::frontmostApplication() {
    return frontmost;
}

std::optional<RunningApplication> FakeWorkspace::application(qint64 processID) {
    auto found = applications.find(processID);
    if (found == applications.end()) {
        return std::nullopt;
    }
    return found->second;
}

void FakeWorkspace::activate(const RunningApplication& application) {
    activations.append(application);
    if (activationEffect == ActivationEffect::bringsToFront) {
        frontmost = application;
    }
}

bool FakeWorkspace::isActive(const RunningApplication& application) {
    if (!frontmost) {
        return false;
    }
    if (application.windowID != 0) {
        return frontmost->windowID == application.windowID;
    }
    return application.processID > 0 && frontmost->processID == application.processID;
}

void FakeWorkspace::addApplication(const RunningApplication& application) {
    applications[application.processID] = application;
}

void FakeWorkspace::setFrontmost(const std::optional<RunningApplication>& application) {
    frontmost = application;
    if (application) {
        addApplication(*application);
    }
}

} // namespace snipjar
