#pragma once

#include <QWidget>

class QLabel;

namespace snipjar {

// The top of the settings window, centred: the application icon, its name and the version line
// ("Version 0.1.0", with " · debug" under the debug identity).
class SettingsHeader : public QWidget {
    Q_OBJECT
public:
    explicit SettingsHeader(QWidget* parent = nullptr);

    // The platform Snipjar runs on, after the version ("Version 0.1.0 · Wayland"), and a line under
    // it for each thing this desktop does not let it do; none hides those lines.
    void setPlatform(const QString& backend, const QStringList& limits);

    static QString versionLine();

private:
    QLabel* version = nullptr;
    QLabel* limitLines = nullptr;
};

} // namespace snipjar
