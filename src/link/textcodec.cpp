#include "textcodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace tamrisk {

namespace {

// One converter of each direction per thread; they hold no state between
// texts since the code page is single-byte, but the error count is reset.
QStringDecoder& Decoder() {
    thread_local QStringDecoder decoder("windows-1251");
    return decoder;
}

QStringEncoder& Encoder() {
    thread_local QStringEncoder encoder("windows-1251");
    return encoder;
}

}  // namespace

QString DecodeCp1251(std::string_view bytes) {
    QStringDecoder& decoder = Decoder();
    decoder.resetState();
    return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::optional<std::string> EncodeCp1251(QStringView text, qsizetype* badIndex) {
    QStringEncoder& encoder = Encoder();
    encoder.resetState();
    QByteArray bytes = encoder.encode(text);
    // An unmappable character comes out as 0x1A; never send or save that.
    if (!encoder.hasError())
        return bytes.toStdString();
    if (badIndex != nullptr) {
        *badIndex = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            // A surrogate pair is one character; it is never in the code page.
            const qsizetype width = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            encoder.resetState();
            (void)QByteArray(encoder.encode(text.mid(i, width)));
            if (encoder.hasError()) {
                *badIndex = i;
                break;
            }
            i += width - 1;
        }
    }
    encoder.resetState();
    return std::nullopt;
}

std::string Cp1251ToUtf8(std::string_view bytes) { return DecodeCp1251(bytes).toStdString(); }

std::optional<std::string> Utf8ToCp1251(std::string_view utf8) {
    return EncodeCp1251(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

}  // namespace tamrisk
