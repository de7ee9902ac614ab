#pragma once

#include <QWidget>

namespace snipjar {

// The top of the settings window, centred: the application icon, its name and the version line
// ("Version 0.1.0", with " · debug" under the debug identity).
class SettingsHeader : public QWidget {
    Q_OBJECT
public:
    explicit SettingsHeader(QWidget* parent = nullptr);

    static QString versionLine();
};

} // namespace snipjar
