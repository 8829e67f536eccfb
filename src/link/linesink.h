#pragma once
// The one way lines of text reach a view: the results log, the hex dumps, the
// journal view and the CLI's stdout all sit behind ResultSink. BatchingSink
// keeps appended lines until Flush, so a view takes them in batches while the
// order and colours stay as if each line had been appended at once.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tamrisk {

enum class ResultColour { Black, Blue, Green, Red, Gray, Purple };

struct Rgb {
    int red, green, blue;
};
Rgb ColourRgb(ResultColour colour);

// Longest text one results line holds; longer texts are cut to it.
constexpr std::size_t MaxResultLineText = 1021;

struct ResultLine {
    std::string text;  // 8-bit Windows-1251, at most MaxResultLineText bytes
    ResultColour colour = ResultColour::Black;
};

// Where result lines go: the station's views, the CLI's stdout, a test's list.
class ResultSink {
public:
    virtual ~ResultSink() = default;
    // Appends `text` (8-bit Windows-1251) and a line end, in `colour`.
    virtual void AppendResultLine(std::string_view text, ResultColour colour) = 0;
    // Hands every line appended so far to its destination.
    virtual void Flush() {}
};

// A sink that collects lines and writes them in batches. BatchStarted tells a
// subclass that the first line of a new batch is waiting (to arm a timer, or to
// flush at once); WriteBatch receives the lines in the order appended.
class BatchingSink : public ResultSink {
public:
    void AppendResultLine(std::string_view text, ResultColour colour) final;
    void Flush() final;
    std::size_t PendingLines() const { return m_pending.size(); }
    // A batch that reaches `lines` is written at once (0, the default: no
    // limit), so that a producer hands over batches of one size whatever its pace.
    void SetMaxBatchLines(std::size_t lines) { m_maxBatch = lines; }

protected:
    virtual void BatchStarted() {}
    virtual void WriteBatch(std::span<const ResultLine> lines) = 0;

private:
    std::vector<ResultLine> m_pending;
    std::size_t m_maxBatch = 0;
    bool m_flushing = false;
};

}  // namespace tamrisk
