#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "printermodel.h"
#include "simtesting.h"

namespace tamrisk::sim {
namespace {

using Figures = std::vector<std::int64_t>;

// The used figure (third field of P,size,used,...) of `count` information answers in a row.
Figures UsedFigures(std::optional<UsedVariation> variation, int count = 20) {
    SimOptions options;
    options.usedVariation = variation;
    PrinterModel model(options);
    testing::ModelCaller station{model};
    Figures figures;
    for (int i = 0; i < count; ++i) {
        const std::string answer = station.Journal("I");
        figures.push_back(std::stoll(answer.substr(answer.find(',', 2) + 1)));
    }
    return figures;
}

const std::int64_t Stored = static_cast<std::int64_t>(PrinterModel().Journal().Stored().size());
const std::int64_t Capacity = static_cast<std::int64_t>(PrinterModel().Journal().Capacity());

TEST(UsedVariationTest, WithoutSpreadTheFigureIsTheStoredSizeMovedByTheDrift) {
    const struct {
        std::optional<UsedVariation> variation;
        std::int64_t (*expected)(int answer);
    } cases[] = {
        {std::nullopt, [](int) { return Stored; }},
        {UsedVariation{.seed = 5, .spread = 0.0}, [](int) { return Stored; }},
        {UsedVariation{.seed = 5, .spread = 0.0, .drift = 7.0}, [](int i) { return Stored + 7 * i; }},
        {UsedVariation{.seed = 5, .spread = 0.0, .drift = -2.5}, [](int i) { return Stored - 5 * i / 2; }},
        {UsedVariation{.seed = 5, .spread = 0.0, .drift = -1e6}, [](int i) { return i == 0 ? Stored : 0; }},
        {UsedVariation{.seed = 5, .spread = 0.0, .drift = 1e7}, [](int i) { return i == 0 ? Stored : Capacity; }},
    };
    for (const auto& c : cases) {
        const Figures figures = UsedFigures(c.variation);
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(figures[i], c.expected(i)) << "answer " << i << ", drift " << (c.variation ? c.variation->drift : 0);
    }
}

TEST(UsedVariationTest, TheSeedDecidesTheDrawsOnEveryPlatform) {
    // Worked out from SplitMix64 and Box-Muller outside this code; the default spread is 1 % of the stored size.
    EXPECT_EQ(UsedFigures(UsedVariation{.seed = 1}, 6),
              (Figures{Stored - 7, Stored - 479, Stored + 17, Stored - 388, Stored + 43, Stored - 154}));
    const UsedVariation one{.seed = 1, .spread = 100.0};
    EXPECT_EQ(UsedFigures(one), UsedFigures(one));
    EXPECT_NE(UsedFigures(one), UsedFigures(UsedVariation{.seed = 2, .spread = 100.0}));

    const Figures steady = UsedFigures(one);
    const Figures drifting = UsedFigures(UsedVariation{.seed = 1, .spread = 100.0, .drift = 4.0});
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(drifting[i] - steady[i], 4 * i) << i;
}

}  // namespace
}  // namespace tamrisk::sim
