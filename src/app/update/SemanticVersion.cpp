#include "app/update/SemanticVersion.h"

namespace snipjar {

namespace {

bool isDigits(QStringView text) {
    if (text.isEmpty()) {
        return false;
    }
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return true;
}

bool isIdentifier(QStringView text) {
    if (text.isEmpty()) {
        return false;
    }
    for (const QChar c : text) {
        const bool alphanumeric =
            (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        if (!alphanumeric && c != u'-') {
            return false;
        }
    }
    return true;
}

std::optional<quint64> numberWithoutLeadingZero(QStringView text) {
    if (!isDigits(text) || (text.size() > 1 && text.front() == u'0')) {
        return std::nullopt;
    }
    bool ok = false;
    const quint64 number = text.toULongLong(&ok);
    return ok ? std::optional(number) : std::nullopt;
}

// Numeric identifiers may be longer than any integer type, so they compare by length first and
// then digit by digit, which is numeric order for numbers without leading zeros.
std::weak_ordering compareIdentifiers(const QString& left, const QString& right) {
    const bool leftNumeric = isDigits(left);
    const bool rightNumeric = isDigits(right);
    if (leftNumeric && rightNumeric) {
        if (left.size() != right.size()) {
            return left.size() <=> right.size();
        }
        return QString::compare(left, right, Qt::CaseSensitive) <=> 0;
    }
    if (leftNumeric != rightNumeric) {
        return leftNumeric ? std::weak_ordering::less : std::weak_ordering::greater;
    }
    // Alphanumeric identifiers compare in ASCII order; the grammar allows ASCII only.
    return QString::compare(left, right, Qt::CaseSensitive) <=> 0;
}

} // namespace

std::optional<SemanticVersion> SemanticVersion::parse(QStringView text) {
    SemanticVersion version;
    const qsizetype plus = text.indexOf(u'+');
    QStringView rest = text;
    if (plus >= 0) {
        const QStringView build = text.mid(plus + 1);
        for (const QStringView identifier : build.split(u'.')) {
            if (!isIdentifier(identifier)) {
                return std::nullopt;
            }
        }
        version.buildMetadata = build.toString();
        rest = text.left(plus);
    }
    const qsizetype dash = rest.indexOf(u'-');
    if (dash >= 0) {
        for (const QStringView identifier : rest.mid(dash + 1).split(u'.')) {
            // Numeric pre-release identifiers have no leading zeros but may exceed any integer type.
            const bool leadingZero =
                isDigits(identifier) && identifier.size() > 1 && identifier.front() == u'0';
            if (!isIdentifier(identifier) || leadingZero) {
                return std::nullopt;
            }
            version.preReleaseIdentifiers.append(identifier.toString());
        }
        rest = rest.left(dash);
    }
    const auto numbers = rest.split(u'.');
    if (numbers.size() != 3) {
        return std::nullopt;
    }
    const auto major = numberWithoutLeadingZero(numbers[0]);
    const auto minor = numberWithoutLeadingZero(numbers[1]);
    const auto patch = numberWithoutLeadingZero(numbers[2]);
    if (!major || !minor || !patch) {
        return std::nullopt;
    }
    version.majorNumber = *major;
    version.minorNumber = *minor;
    version.patchNumber = *patch;
    return version;
}

QString SemanticVersion::toString() const {
    QString text = QStringLiteral("%1.%2.%3").arg(majorNumber).arg(minorNumber).arg(patchNumber);
    if (!preReleaseIdentifiers.isEmpty()) {
        text += u'-' + preReleaseIdentifiers.join(u'.');
    }
    if (!buildMetadata.isEmpty()) {
        text += u'+' + buildMetadata;
    }
    return text;
}

std::weak_ordering SemanticVersion::operator<=>(const SemanticVersion& other) const {
    if (const auto order = majorNumber <=> other.majorNumber; order != 0) {
        return order;
    }
    if (const auto order = minorNumber <=> other.minorNumber; order != 0) {
        return order;
    }
    if (const auto order = patchNumber <=> other.patchNumber; order != 0) {
        return order;
    }
    // A release ranks above every pre-release of the same numbers.
    if (preReleaseIdentifiers.isEmpty() != other.preReleaseIdentifiers.isEmpty()) {
        return preReleaseIdentifiers.isEmpty() ? std::weak_ordering::greater : std::weak_ordering::less;
    }
    const qsizetype common = std::min(preReleaseIdentifiers.size(), other.preReleaseIdentifiers.size());
    for (qsizetype i = 0; i < common; ++i) {
        if (const auto order = compareIdentifiers(preReleaseIdentifiers[i], other.preReleaseIdentifiers[i]);
            order != 0) {
            return order;
        }
    }
    return preReleaseIdentifiers.size() <=> other.preReleaseIdentifiers.size();
}

} // namespace snipjar
