#include "textcodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace tamrisk {

std::string Cp1251ToUtf8(std::string_view bytes) {
    static QStringDecoder decoder("windows-1251");
    const QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return text.toStdString();
}

std::optional<std::string> Utf8ToCp1251(std::string_view utf8) {
    QStringEncoder encoder("windows-1251");
    const QByteArray bytes = encoder.encode(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    // An unmappable character comes out as 0x1A; never send that.
    if (encoder.hasError())
        return std::nullopt;
    return bytes.toStdString();
}

}  // namespace tamrisk
