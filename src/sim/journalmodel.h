#pragma once
// The electronic journal as the printer serves it through command 119: reading
// documents line by line, printing a part of the journal, checking a Z-report's
// journal against its recorded SHA-1 digest, the journal information, and raw
// blocks of the journal as stored. docs/simulator.md gives the query syntax.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "journalcontent.h"
#include "simoptions.h"
#include "simtypes.h"

namespace tamrisk::sim {

class JournalModel {
public:
    static constexpr std::uint64_t DefaultCapacity = 2 * 1024 * 1024;  // bytes
    static constexpr std::size_t MaxRawBlock = 64;                    // bytes one raw read may ask for

    // With a variation, the information answer's used figure varies from answer to
    // answer instead of telling the stored size.
    explicit JournalModel(JournalBook book, std::uint64_t capacity = DefaultCapacity,
                          std::optional<UsedVariation> variation = std::nullopt);

    // Serves the data of one command 119 request. A malformed request is refused
    // with SyntaxError, a check of a Z-report the printer never made with
    // NotPermitted. A new read, a print or a check ends a read in progress;
    // "N", "I" and raw block reads leave it alone.
    CommandResult Handle(std::string_view data);

    const JournalBook& Book() const { return m_book; }
    // The journal as stored: the text of every document, each line ended by CR LF.
    const std::string& Stored() const { return m_stored; }
    std::uint64_t Capacity() const { return m_capacity; }
    // Documents printed by print requests since the model was made.
    std::uint64_t DocumentsPrinted() const { return m_printed; }

private:
    // Documents by number, both ends included.
    struct DocumentRange {
        std::uint32_t first = 0;
        std::uint32_t last = 0;
    };
    // Half-open range of indexes into m_book.documents.
    struct IndexRange {
        std::size_t begin = 0;
        std::size_t end = 0;
    };

    CommandResult ReadFirst(std::string_view query);
    CommandResult ReadNext();
    CommandResult Print(std::string_view query);
    CommandResult Check(std::string_view query);
    CommandResult Info();
    std::uint64_t UsedFigure();
    CommandResult RawBlock(std::string_view query) const;

    std::optional<DocumentRange> ParseSelection(std::string_view query) const;
    IndexRange Indexes(DocumentRange range) const;
    const ZReportRecord* FindZReport(std::uint32_t number) const;
    std::string TextOf(IndexRange indexes) const;

    JournalBook m_book;
    std::uint64_t m_capacity;
    std::string m_stored;
    std::uint64_t m_printed = 0;

    std::optional<UsedVariation> m_variation;
    SplitMix64 m_variationRandom;
    std::uint64_t m_infoAnswers = 0;  // information answers given so far

    // The read in progress: the next line to send, and the end of its documents.
    bool m_reading = false;
    std::size_t m_readDocument = 0;
    std::size_t m_readLine = 0;
    std::size_t m_readEnd = 0;
};

}  // namespace tamrisk::sim
