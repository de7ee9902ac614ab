#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <compare>
#include <optional>

namespace snipjar {

// A version number in Semantic Versioning 2.0 form: MAJOR.MINOR.PATCH, an optional pre-release
// ("-beta.2") and optional build metadata ("+build.5"). Ordering follows the standard's
// precedence: numbers compare numerically, a pre-release sorts before its release, pre-release
// identifiers compare one by one (numeric ones numerically and below alphanumeric ones, a shorter
// list first when all before are equal), and build metadata never counts.
class SemanticVersion {
public:
    // The strict grammar only: no leading "v", no leading zeros in numbers, no empty identifiers.
    static std::optional<SemanticVersion> parse(QStringView text);

    quint64 major() const { return majorNumber; }
    quint64 minor() const { return minorNumber; }
    quint64 patch() const { return patchNumber; }
    const QStringList& preRelease() const { return preReleaseIdentifiers; }
    const QString& build() const { return buildMetadata; }
    QString toString() const;

    // Precedence. Two versions that differ only in build metadata are equivalent, not equal.
    std::weak_ordering operator<=>(const SemanticVersion& other) const;
    bool operator==(const SemanticVersion& other) const { return (*this <=> other) == 0; }

private:
    quint64 majorNumber = 0;
    quint64 minorNumber = 0;
    quint64 patchNumber = 0;
    QStringList preReleaseIdentifiers;
    QString buildMetadata;
};

} // namespace snipjar
