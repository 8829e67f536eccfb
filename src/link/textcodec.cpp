#include "textcodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>

namespace tamrisk {

namespace {

// One converter of each direction per thread. The code page is single-byte,
// so a converter carries nothing from one text to the next but its error
// count; one that has seen an error is replaced (resetting an ICU-backed
// converter leaves it unusable in this Qt).
QStringDecoder& Decoder() {
    thread_local std::optional<QStringDecoder> decoder;
    if (!decoder || decoder->hasError()) {
        decoder.reset();
        decoder.emplace("windows-1251");
    }
    return *decoder;
}

QStringEncoder& Encoder() {
    thread_local std::optional<QStringEncoder> encoder;
    if (!encoder || encoder->hasError()) {
        encoder.reset();
        encoder.emplace("windows-1251");
    }
    return *encoder;
}

// The code page is single-byte: each byte stands for one character, whatever
// comes around it. The table holds the character of every byte as the
// converter decodes it alone, so a text decodes with one lookup a byte rather
// than a call into the converter (records and views decode every line). A byte
// the converter does not decode to exactly one character is left to it.
struct ByteTable {
    std::array<char16_t, 256> character{};
    std::array<bool, 256> single{};
    ByteTable() {
        for (int byte = 0; byte < 256; ++byte) {
            const char one = static_cast<char>(byte);
            const QString decoded = QStringDecoder("windows-1251").decode(QByteArrayView(&one, 1));
            single[byte] = decoded.size() == 1;
            character[byte] = single[byte] ? decoded[0].unicode() : u'\0';
        }
    }
};

const ByteTable& Table() {
    static const ByteTable table;
    return table;
}

bool Encodable(QStringView text) {
    QStringEncoder encoder("windows-1251");
    (void)QByteArray(encoder.encode(text));
    return !encoder.hasError();
}

}  // namespace

QString DecodeCp1251(std::string_view bytes) {
    const ByteTable& table = Table();
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (!table.single[byte])
            return Decoder().decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        *out++ = table.character[byte];
    }
    return text;
}

std::optional<std::string> EncodeCp1251(QStringView text, qsizetype* badIndex) {
    QStringEncoder& encoder = Encoder();
    QByteArray bytes = encoder.encode(text);
    // An unmappable character comes out as 0x1A; never send or save that.
    if (!encoder.hasError())
        return bytes.toStdString();
    if (badIndex != nullptr) {
        *badIndex = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            // A surrogate pair is one character; it is never in the code page.
            const qsizetype width = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            if (!Encodable(text.mid(i, width))) {
                *badIndex = i;
                break;
            }
            i += width - 1;
        }
    }
    return std::nullopt;
}

std::string Cp1251ToUtf8(std::string_view bytes) { return DecodeCp1251(bytes).toStdString(); }

std::optional<std::string> Utf8ToCp1251(std::string_view utf8) {
    return EncodeCp1251(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

}  // namespace tamrisk
