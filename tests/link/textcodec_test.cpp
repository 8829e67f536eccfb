#include "textcodec.h"

#include <QStringDecoder>

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

QString ConverterDecode(const std::string& bytes) {
    return QStringDecoder("windows-1251").decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

// Every byte, alone, in a run and among others, decodes as the converter
// decodes it; and a text that goes out and back is the same bytes.
TEST(TextCodec, DecodesEveryByteAsTheConverterDoes) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all.push_back(static_cast<char>(byte));
    const std::string texts[] = {
        "",
        all,
        std::string(all.rbegin(), all.rend()),
        "\xcf\xf0\xe8\xed\xf2\xe5\xf0 \xce\xca, 21,00,00,00,00,3A",
        std::string("\0\x98\xff\x80", 4),
    };
    for (const std::string& text : texts) {
        EXPECT_EQ(DecodeCp1251(text), ConverterDecode(text)) << text.size();
        const QString decoded = DecodeCp1251(text);
        if (const std::optional<std::string> back = EncodeCp1251(decoded)) {
            EXPECT_EQ(*back, text);
        }
    }
    EXPECT_EQ(Cp1251ToUtf8("\xcf\xf0\xe8\xed\xf2\xe5\xf0"), "Принтер");
}

}  // namespace
}  // namespace tamrisk
