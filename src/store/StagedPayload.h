#pragma once

#include "model/ClipRecords.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar {

class BlobStorage;

// A payload whose large bytes (BlobStorage::externalThreshold and more) are already in their files,
// so that the unit of work that inserts its row holds the write lock for the row alone and may try
// again without writing them twice. The files are removed with the object unless keep() was called
// once a saved row names them. A field whose file could not be written stays in the row.
class StagedPayload {
public:
    StagedPayload(ClipPayload payload, const BlobStorage* blobs);
    ~StagedPayload();
    StagedPayload(StagedPayload&& other) noexcept;
    StagedPayload& operator=(StagedPayload&&) = delete;
    StagedPayload(const StagedPayload&) = delete;
    StagedPayload& operator=(const StagedPayload&) = delete;

    const ClipPayload& payload() const { return record; }
    const std::optional<QString>& richTextFile() const { return richText; }
    const std::optional<QString>& imageFile() const { return image; }
    const std::optional<QString>& htmlFile() const { return html; }

    // The files are named by a saved row now and must stay.
    void keep() { blobs = nullptr; }
    // Hands the files over to the caller, who removes them when they are no longer wanted.
    QStringList release();

private:
    ClipPayload record;
    const BlobStorage* blobs = nullptr;
    std::optional<QString> richText;
    std::optional<QString> image;
    std::optional<QString> html;
};

} // namespace snipjar
