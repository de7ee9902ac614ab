#pragma once

class QWidget;

namespace snipjar {

struct PanelPreview;

// The upper part of the preview pane for one preview: the concealed placeholder, the image, the
// list of files or the scrolling text. A new widget per preview; the pane replaces the old one.
QWidget* makePreviewContent(const PanelPreview& preview, QWidget* parent);

} // namespace snipjar
