#include "journalmodel.h"

#include "hexdigits.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tamrisk::sim {

using namespace std::string_literals;

namespace {

constexpr char Separator = ',';

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// A decimal number of 1 to 9 digits filling `text`.
std::optional<std::uint32_t> ParseDecimal(std::string_view text) {
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

// A hexadecimal number of 1 to 16 digits filling `text`, either case.
std::optional<std::uint64_t> ParseHex(std::string_view text) {
    if (text.empty() || text.size() > 16)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return value;
}

// "<n>" or "<n>-<m>" with 1 <= n <= m.
std::optional<std::pair<std::uint32_t, std::uint32_t>> ParseNumberRange(std::string_view text) {
    const auto dash = text.find('-');
    const auto first = ParseDecimal(text.substr(0, dash));
    if (!first || *first == 0)
        return std::nullopt;
    if (dash == std::string_view::npos)
        return std::pair{*first, *first};
    const auto last = ParseDecimal(text.substr(dash + 1));
    if (!last || *last < *first)
        return std::nullopt;
    return std::pair{*first, *last};
}

std::string Field(std::uint64_t value) {
    return std::to_string(value);
}

}  // namespace

JournalModel::JournalModel(JournalBook book, std::uint64_t capacity, std::optional<UsedVariation> variation)
    : m_book(std::move(book)),
      m_capacity(capacity),
      m_variation(variation),
      m_variationRandom(variation ? variation->seed : 0) {
    for (const JournalDocument& document : m_book.documents)
        m_stored += JournalText(document.lines);
    // A long journal gets a larger memory, in whole steps of the default, so
    // that some of it is always free.
    while (m_capacity <= m_stored.size())
        m_capacity += DefaultCapacity;
}

CommandResult JournalModel::Handle(std::string_view data) {
    if (data == "N")
        return ReadNext();
    if (data == "I")
        return Info();
    if (data.starts_with("R,")) {
        const std::string_view query = data.substr(2);
        // A raw block read does not disturb a line-by-line read in progress.
        if (!query.empty() && Upper(query.front()) == 'Q')
            return RawBlock(query.substr(1));
        return ReadFirst(query);
    }
    m_reading = false;
    if (data.starts_with("P,<") || data.starts_with("P,>"))
        return Print(data.substr(3));
    if (data.starts_with("C,"))
        return Check(data.substr(2));
    return Refused(Refusal::SyntaxError);
}

std::optional<JournalModel::DocumentRange> JournalModel::ParseSelection(std::string_view query) const {
    if (query.empty())
        return std::nullopt;
    const char letter = Upper(query.front());
    const std::string_view rest = query.substr(1);
    if (letter == 'A')
        return rest.empty() ? std::optional(DocumentRange{1, std::numeric_limits<std::uint32_t>::max()})
                            : std::nullopt;
    const auto numbers = ParseNumberRange(rest);
    if (!numbers)
        return std::nullopt;
    if (letter == 'D')
        return DocumentRange{numbers->first, numbers->second};
    if (letter != 'Z')
        return std::nullopt;
    const std::uint32_t lastZ = static_cast<std::uint32_t>(m_book.zReports.size());
    if (numbers->first > lastZ)
        return DocumentRange{1, 0};  // valid, selects nothing
    const ZReportRecord& from = m_book.zReports[numbers->first - 1];
    const ZReportRecord& to = m_book.zReports[std::min(numbers->second, lastZ) - 1];
    return DocumentRange{from.firstDocument, to.documentNumber};
}

JournalModel::IndexRange JournalModel::Indexes(DocumentRange range) const {
    const auto& documents = m_book.documents;
    if (range.first > range.last)
        return {};
    const auto begin = std::lower_bound(documents.begin(), documents.end(), range.first,
                                        [](const JournalDocument& d, std::uint32_t n) { return d.number < n; });
    const auto end = std::upper_bound(begin, documents.end(), range.last,
                                      [](std::uint32_t n, const JournalDocument& d) { return n < d.number; });
    return IndexRange{static_cast<std::size_t>(begin - documents.begin()),
                      static_cast<std::size_t>(end - documents.begin())};
}

const ZReportRecord* JournalModel::FindZReport(std::uint32_t number) const {
    if (number == 0 || number > m_book.zReports.size())
        return nullptr;
    return &m_book.zReports[number - 1];
}

std::string JournalModel::TextOf(IndexRange indexes) const {
    std::string text;
    for (std::size_t i = indexes.begin; i < indexes.end; ++i)
        text += JournalText(m_book.documents[i].lines);
    return text;
}

CommandResult JournalModel::ReadFirst(std::string_view query) {
    m_reading = false;
    const auto range = ParseSelection(query);
    if (!range)
        return Refused(Refusal::SyntaxError);
    const IndexRange indexes = Indexes(*range);
    m_reading = indexes.begin < indexes.end;
    m_readDocument = indexes.begin;
    m_readLine = 0;
    m_readEnd = indexes.end;
    return ReadNext();
}

CommandResult JournalModel::ReadNext() {
    if (!m_reading || m_readDocument >= m_readEnd) {
        m_reading = false;
        return Accepted("F");
    }
    const JournalDocument& document = m_book.documents[m_readDocument];
    const bool lastLine = m_readLine + 1 == document.lines.size();
    std::string answer{lastLine ? '*' : 'P', Separator};
    answer += document.lines[m_readLine];
    if (lastLine) {
        ++m_readDocument;
        m_readLine = 0;
    } else {
        ++m_readLine;
    }
    return Accepted(std::move(answer));
}

CommandResult JournalModel::Print(std::string_view query) {
    const auto range = ParseSelection(query);
    if (!range)
        return Refused(Refusal::SyntaxError);
    const IndexRange indexes = Indexes(*range);
    const std::size_t count = indexes.end - indexes.begin;
    m_printed += count;
    return Accepted(Field(count));
}

CommandResult JournalModel::Check(std::string_view query) {
    if (query.empty())
        return Refused(Refusal::SyntaxError);
    const char letter = Upper(query.front());
    const auto number = ParseDecimal(query.substr(1));
    if ((letter != 'R' && letter != 'Z' && letter != 'X') || !number)
        return Refused(Refusal::SyntaxError);
    const ZReportRecord* z = FindZReport(*number);
    if (!z)
        return Refused(Refusal::NotPermitted);

    const std::string date = FormatDateTime(z->madeAt);
    if (letter == 'R')
        return Accepted("P,"s + Field(z->documentNumber) + ',' + date + ',' + z->recordedSha1);

    const IndexRange indexes = Indexes(DocumentRange{z->firstDocument, z->documentNumber});
    const bool held = indexes.begin < indexes.end;
    const std::string text = TextOf(indexes);
    const std::string computed = held ? Sha1Hex(text) : std::string();
    const std::size_t documents = indexes.end - indexes.begin;

    if (letter == 'X') {
        std::string answer = "P,"s + Field(z->number) + ',' + Field(z->documentNumber) + ',' + date;
        answer += ',' + Field(held ? m_book.documents[indexes.begin].number : 0);
        answer += ',' + Field(held ? m_book.documents[indexes.end - 1].number : 0);
        answer += ',' + Field(text.size()) + ',' + z->recordedSha1 + ',' + computed;
        return Accepted(std::move(answer));
    }
    if (!held)
        return Accepted("F");
    const std::string counts = Field(documents) + ',' + Field(text.size());
    if (computed == z->recordedSha1)
        return Accepted("P,"s + counts + ',' + computed);
    return Accepted("E,"s + counts + ',' + z->recordedSha1 + ',' + computed);
}

std::uint64_t JournalModel::UsedFigure() {
    const std::uint64_t stored = m_stored.size();
    if (!m_variation)
        return stored;
    const double spread = m_variation->spread.value_or(static_cast<double>(stored) / 100.0);
    const double drift = m_variation->drift * static_cast<double>(m_infoAnswers++);
    const double used = std::round(static_cast<double>(stored) + spread * StandardNormal(m_variationRandom) + drift);
    return static_cast<std::uint64_t>(std::clamp(used, 0.0, static_cast<double>(m_capacity)));
}

CommandResult JournalModel::Info() {
    std::uint32_t firstZ = 0;
    std::uint32_t lastZ = 0;
    for (const ZReportRecord& z : m_book.zReports) {
        const IndexRange own = Indexes(DocumentRange{z.documentNumber, z.documentNumber});
        if (own.begin == own.end)
            continue;
        if (firstZ == 0)
            firstZ = z.number;
        lastZ = z.number;
    }
    const auto& documents = m_book.documents;
    const std::uint32_t firstDocument = documents.empty() ? 0 : documents.front().number;
    const std::uint32_t lastDocument = documents.empty() ? 0 : documents.back().number;
    return Accepted("P,"s + Field(m_capacity) + ',' + Field(UsedFigure()) + ',' + Field(firstZ) + ',' +
                    Field(lastZ) + ',' + Field(firstDocument) + ',' + Field(lastDocument));
}

CommandResult JournalModel::RawBlock(std::string_view query) const {
    const auto comma = query.find(',');
    if (comma == std::string_view::npos)
        return Refused(Refusal::SyntaxError);
    const auto address = ParseHex(query.substr(0, comma));
    const auto length = ParseDecimal(query.substr(comma + 1));
    if (!address || !length || *length == 0 || *length > MaxRawBlock)
        return Refused(Refusal::SyntaxError);
    if (*address >= m_stored.size())
        return Accepted("F");
    // The part of the last block past the written journal reads as erased memory.
    std::string block(*length, '\xFF');
    const std::size_t available = std::min<std::size_t>(*length, m_stored.size() - *address);
    block.replace(0, available, m_stored, *address, available);
    return Accepted("P,"s + HexText(reinterpret_cast<const std::uint8_t*>(block.data()), block.size()));
}

}  // namespace tamrisk::sim
