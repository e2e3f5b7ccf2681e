#include "device/DevicePath.h"

#include <QRegularExpression>

namespace chimora {

std::optional<QStringList> devicePathParts(const QString& path) {
    if (!path.startsWith(u'\\'))
        return std::nullopt;
    const QStringList parts = path.split(u'\\', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part == QLatin1String(".") || part == QLatin1String("..") || part.contains(u'/') ||
            part.contains(QChar(u'\0')))
            return std::nullopt;
    }
    return parts;
}

bool splitDevicePattern(const QString& pattern, QString* folder, QString* mask) {
    const qsizetype cut = pattern.lastIndexOf(u'\\');
    if (cut < 0)
        return false;
    *folder = cut == 0 ? QStringLiteral("\\") : pattern.left(cut);
    *mask = pattern.mid(cut + 1);
    return true;
}

bool matchesDeviceMask(const QString& mask, const QString& name) {
    if (mask == QLatin1String("*.*") || mask == QLatin1String("*"))
        return true;
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(mask),
                                QRegularExpression::CaseInsensitiveOption);
    return re.match(name).hasMatch();
}

} // namespace chimora
