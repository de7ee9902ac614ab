#include "platform/fakes/FakeWorkspace.h"

namespace snipjar {

std::optional<RunningApplication> FakeWorkspace::frontmostApplication() {
    ++frontmostQueries;
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
    ++isActiveQueries;
    return frontmost && frontmost->processID == application.processID &&
           frontmost->windowID == application.windowID;
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
