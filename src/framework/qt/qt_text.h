// The program's 8-bit text (UTF-8 here) to and from Qt's strings, whole:
// embedded zero bytes and all.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>

namespace qv {

inline QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToUtf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace qv
