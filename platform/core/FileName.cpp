#include "platform/core/FileName.h"

#include <QFile>

namespace chimora {

QString fileNameProblem(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("it is empty");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("\"%1\" names a folder").arg(name);
    if (name.contains(QLatin1Char('/')))
        return QStringLiteral("it holds \"/\", which separates folders");
    if (name.contains(QChar(0)))
        return QStringLiteral("it holds a NUL character");
    const qsizetype bytes = QFile::encodeName(name).size();
    if (bytes > kMaxFileNameBytes)
        return QStringLiteral("it takes %1 bytes, and a file name can have at most %2")
            .arg(bytes)
            .arg(kMaxFileNameBytes);
    return {};
}

} // namespace chimora
