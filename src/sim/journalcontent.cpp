#include "journalcontent.h"

#include <QCryptographicHash>
#include <QDate>
#include <QString>
#include <QStringEncoder>

#include <algorithm>
#include <array>

namespace tamrisk::sim {

namespace {

constexpr int LineWidth = 38;

struct Product {
    const char* name;  // UTF-8 in the source, Windows-1251 on the journal
    int priceStotinki;
    char16_t vatGroup;  // u'Б' 20 %, u'Г' 9 %
};

constexpr std::array<Product, 12> Products{{
    {"Хляб Добруджа", 145, u'Б'},
    {"Мляко прясно 3%", 320, u'Б'},
    {"Сирене краве кг", 1290, u'Б'},
    {"Кашкавал Витоша", 895, u'Б'},
    {"Кафе еспресо", 180, u'Г'},
    {"Минерална вода 1.5л", 115, u'Б'},
    {"Вафла Боровец", 85, u'Б'},
    {"Банани кг", 289, u'Б'},
    {"Ябълки Фуджи кг", 349, u'Б'},
    {"Шоколад млечен", 249, u'Б'},
    {"Баничка със сирене", 150, u'Г'},
    {"Айрян 500мл", 139, u'Б'},
}};

QString Money(long long stotinki) {
    return QString::asprintf("%lld.%02lld", stotinki / 100, stotinki % 100);
}

QString Centered(const QString& text) {
    const int pad = (LineWidth - static_cast<int>(text.size())) / 2;
    return QString(pad > 0 ? pad : 0, u' ') + text;
}

// `left` and `right` on one line, `right` flush with the right margin.
QString Spread(const QString& left, const QString& right) {
    const int gap = LineWidth - static_cast<int>(left.size() + right.size());
    return left + QString(gap > 1 ? gap : 1, u' ') + right;
}

QString DocumentStamp(std::uint32_t number, const SimDateTime& at) {
    return Spread(QString::asprintf("%07u", number),
                  QString::asprintf("%02d-%02d-%04d %02d:%02d:%02d", at.day, at.month, at.year,
                                    at.hour, at.minute, at.second));
}

struct DayTotals {
    long long turnoverB = 0;  // group Б, VAT included
    long long turnoverG = 0;  // group Г
    long long cash = 0;
    long long card = 0;
    long long deposited = 0;
    int fiscalReceipts = 0;
    int serviceReceipts = 0;
};

long long VatOf(long long gross, int ratePercent) {
    return (gross * ratePercent + (100 + ratePercent) / 2) / (100 + ratePercent);
}

class BookWriter {
public:
    explicit BookWriter(std::uint64_t seed) : m_random(seed) {}

    JournalDocument Receipt(const SimDateTime& at, DayTotals& day) {
        Start();
        const int items = 1 + static_cast<int>(m_random.Below(5));
        long long total = 0;
        long long groupB = 0;
        long long groupG = 0;
        for (int i = 0; i < items; ++i) {
            const Product& product = Products[m_random.Below(Products.size())];
            const int quantity = m_random.Below(4) == 0 ? 2 + static_cast<int>(m_random.Below(3)) : 1;
            const long long amount = static_cast<long long>(product.priceStotinki) * quantity;
            if (quantity > 1)
                Add(QString::asprintf("   %d x ", quantity) + Money(product.priceStotinki));
            Add(Spread(QString::fromUtf8(product.name), Money(amount) + u' ' + product.vatGroup));
            total += amount;
            (product.vatGroup == u'Б' ? groupB : groupG) += amount;
        }
        Add(QString(LineWidth, u'-'));
        Add(Spread(QStringLiteral("СУМА"), Money(total)));
        if (m_random.Below(3) == 0) {
            Add(Spread(QStringLiteral("С КАРТА"), Money(total)));
            day.card += total;
        } else {
            static constexpr long long notes[] = {500, 1000, 2000, 5000, 10000};
            long long tendered = total;
            for (long long note : notes) {
                if (note >= total) {
                    tendered = note;
                    break;
                }
            }
            Add(Spread(QStringLiteral("В БРОЙ"), Money(tendered)));
            Add(Spread(QStringLiteral("РЕСТО"), Money(tendered - total)));
            day.cash += total;
        }
        if (groupB > 0)
            Add(Spread(QStringLiteral("ДДС Б = 20.00%"), Money(VatOf(groupB, 20))));
        if (groupG > 0)
            Add(Spread(QStringLiteral("ДДС Г = 9.00%"), Money(VatOf(groupG, 9))));
        Add(QString(LineWidth, u'-'));
        Add(items == 1 ? QStringLiteral("1 АРТИКУЛ") : QString::asprintf("%d ", items) + QStringLiteral("АРТИКУЛА"));
        day.turnoverB += groupB;
        day.turnoverG += groupG;
        ++day.fiscalReceipts;
        return Finish(at, QStringLiteral("ФИСКАЛЕН БОН"));
    }

    JournalDocument ServiceDeposit(const SimDateTime& at, DayTotals& day) {
        Start();
        const long long amount = 5000 + 1000 * static_cast<long long>(m_random.Below(6));
        Add(Spread(QStringLiteral("СЛУЖЕБНО ВЪВЕДЕНИ"), Money(amount)));
        day.deposited += amount;
        ++day.serviceReceipts;
        return Finish(at, QStringLiteral("СЛУЖЕБЕН БОН"));
    }

    JournalDocument ZReport(std::uint32_t zNumber, const SimDateTime& at, const DayTotals& day) {
        Start();
        Add(Centered(QStringLiteral("ДНЕВЕН ФИНАНСОВ ОТЧЕТ")));
        Add(Centered(QStringLiteral("С НУЛИРАНЕ")));
        Add(Spread(QStringLiteral("Z-ОТЧЕТ No"), QString::asprintf("%04u", zNumber)));
        Add(Spread(QStringLiteral("ОБОРОТ Б"), Money(day.turnoverB)));
        Add(Spread(QStringLiteral("ДДС Б = 20.00%"), Money(VatOf(day.turnoverB, 20))));
        Add(Spread(QStringLiteral("ОБОРОТ Г"), Money(day.turnoverG)));
        Add(Spread(QStringLiteral("ДДС Г = 9.00%"), Money(VatOf(day.turnoverG, 9))));
        Add(Spread(QStringLiteral("ОБЩ ОБОРОТ"), Money(day.turnoverB + day.turnoverG)));
        Add(Spread(QStringLiteral("В БРОЙ"), Money(day.cash)));
        Add(Spread(QStringLiteral("С КАРТА"), Money(day.card)));
        Add(Spread(QStringLiteral("СЛУЖЕБНО ВЪВЕДЕНИ"), Money(day.deposited)));
        Add(Spread(QStringLiteral("ФИСКАЛНИ БОНОВЕ"), QString::number(day.fiscalReceipts)));
        Add(Spread(QStringLiteral("СЛУЖЕБНИ БОНОВЕ"), QString::number(day.serviceReceipts)));
        return Finish(at, QStringLiteral("ФИСКАЛЕН ОТЧЕТ"));
    }

    std::uint32_t NextDocumentNumber() const { return m_nextNumber; }
    SplitMix64& Random() { return m_random; }

private:
    void Start() {
        m_lines.clear();
        Add(Centered(QStringLiteral("ЗОРМИК ЕООД")));
        Add(Centered(QStringLiteral("гр. Пловдив, бул. Марица 122")));
        Add(Centered(QStringLiteral("ЕИК: 204518362")));
        Add(Centered(QStringLiteral("ЗДДС No BG204518362")));
        Add(Spread(QStringLiteral("Оператор: 1"), QStringLiteral("Каса 1")));
    }

    JournalDocument Finish(const SimDateTime& at, const QString& kind) {
        Add(DocumentStamp(m_nextNumber, at));
        Add(Centered(kind));
        Add(Spread(QStringLiteral("ZK123456"), QStringLiteral("36601234")));
        return JournalDocument{m_nextNumber++, std::move(m_lines)};
    }

    // Every text here is Cyrillic or ASCII and well under the 210 bytes a journal
    // answer leaves for a line; the cut only guards the frame should that change.
    void Add(const QString& line) {
        const QByteArray bytes = m_encoder.encode(line);
        Q_ASSERT(!m_encoder.hasError());
        m_lines.emplace_back(bytes.constData(), std::min<std::size_t>(static_cast<std::size_t>(bytes.size()), 210));
    }

    SplitMix64 m_random;
    QStringEncoder m_encoder{"windows-1251"};
    std::uint32_t m_nextNumber = 1;
    std::vector<std::string> m_lines;
};

SimDateTime At(const QDate& date, int minuteOfDay, int second) {
    return SimDateTime{date.year(), date.month(), date.day(), minuteOfDay / 60, minuteOfDay % 60,
                       second};
}

// Changes the last digit of the first line of `documents` that holds an amount
// ("...N.NN ..."), keeping the line's length.
void AlterOneAmount(std::vector<JournalDocument>& documents) {
    for (JournalDocument& document : documents) {
        for (std::string& line : document.lines) {
            const auto dot = line.rfind('.');
            if (dot == std::string::npos || dot + 2 >= line.size() || line[dot + 2] < '0' ||
                line[dot + 2] > '9' || line.find('-') != std::string::npos)
                continue;
            char& digit = line[dot + 2];
            digit = static_cast<char>('0' + (digit - '0' + 1) % 10);
            return;
        }
    }
}

}  // namespace

std::string JournalText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string Sha1Hex(std::string_view bytes) {
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), QCryptographicHash::Sha1);
    return digest.toHex().toUpper().toStdString();
}

JournalBook BuildJournalBook(const JournalLayout& layout) {
    BookWriter writer(layout.seed);
    JournalBook book;
    const QDate firstDay(2024, 3, 11);
    const int zTotal = layout.zReportsBeforeJournal + layout.zReportsInJournal;

    auto writeDay = [&](const QDate& date, std::vector<JournalDocument>& into, DayTotals& totals) {
        int minute = 8 * 60 + static_cast<int>(writer.Random().Below(30));
        if (writer.Random().Below(2) == 0)
            into.push_back(writer.ServiceDeposit(At(date, minute, static_cast<int>(writer.Random().Below(60))), totals));
        const int receipts = 2 + static_cast<int>(writer.Random().Below(4));
        for (int r = 0; r < receipts; ++r) {
            minute += 5 + static_cast<int>(writer.Random().Below(60));
            into.push_back(writer.Receipt(At(date, minute, static_cast<int>(writer.Random().Below(60))), totals));
        }
    };

    for (int z = 1; z <= zTotal; ++z) {
        const QDate date = firstDay.addDays(z - 1);
        std::vector<JournalDocument> day;
        DayTotals totals;
        ZReportRecord record;
        record.number = static_cast<std::uint32_t>(z);
        record.firstDocument = writer.NextDocumentNumber();
        writeDay(date, day, totals);
        record.madeAt = At(date, 20 * 60 + static_cast<int>(writer.Random().Below(30)),
                           static_cast<int>(writer.Random().Below(60)));
        record.documentNumber = writer.NextDocumentNumber();
        day.push_back(writer.ZReport(record.number, record.madeAt, totals));

        std::string text;
        for (const JournalDocument& document : day)
            text += JournalText(document.lines);
        record.recordedSha1 = Sha1Hex(text);
        if (z == layout.tamperedZReport)
            AlterOneAmount(day);
        book.zReports.push_back(record);
        if (z > layout.zReportsBeforeJournal) {
            for (JournalDocument& document : day)
                book.documents.push_back(std::move(document));
        }
    }

    DayTotals openDay;
    const QDate today = firstDay.addDays(zTotal);
    for (int d = 0; d < layout.openDocuments; ++d)
        book.documents.push_back(writer.Receipt(At(today, 8 * 60 + 20 * (d + 1), 7 * d), openDay));
    return book;
}

}  // namespace tamrisk::sim
