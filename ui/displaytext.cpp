#include "ui/displaytext.h"

#include <QStringDecoder>

namespace kelvane::ui {

namespace {

bool IsAscii(std::string_view bytes) {
    for (unsigned char c : bytes)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

QString DisplayText(std::string_view bytes) {
    const auto size = static_cast<qsizetype>(bytes.size());
    if (IsAscii(bytes)) return QString::fromLatin1(bytes.data(), size);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), size));
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(bytes.data(), size);
}

std::string CoreText(const QString& text) {
    return text.toStdString();
}

}  // namespace kelvane::ui
