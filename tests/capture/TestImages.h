#pragma once

#include <QByteArray>
#include <QString>

namespace snipjar::test {

// A small real image made by libvips's command-line tool: noise of the given size, encoded in the
// format the file-name suffix names ("jpg", "png", "heic", "gif", "tif"), with optional saver options
// ("compression=jpeg"). Cached per process.
QByteArray makeImage(const QString& suffix, int width = 64, int height = 48, const QString& options = {});

// Bytes that no image decoder accepts.
QByteArray notAnImage();

} // namespace snipjar::test
