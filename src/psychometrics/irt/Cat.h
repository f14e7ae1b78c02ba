#pragma once
#include "psychometrics/irt/Model.h"

#include <cstdint>
#include <optional>
#include <vector>

// Adaptive testing over a calibrated bank: after each answer the EAP θ and its standard error,
// and the next question, the one with the most Fisher information at that θ. Every choice
// depends only on the bank, the answers in the order given and the seed, so a run resumed from
// its stored answers continues with the question it would have got.
namespace psychometrics::irt {

struct CatOptions {
    double seTarget = 0.3;           // stop once the standard error is this or less
    int minItems = 0;                // ask at least this many before the standard error counts
    int maxItems = 0;                // ask at most this many; 0: the whole bank
    int randomesque = 1;             // choose at random among this many most informative
    std::optional<size_t> firstItem; // a fixed first question; otherwise the best at θ = 0
    uint64_t seed = 0;               // of the randomesque choice
};

enum class CatStop { No, Precise, MaxItems, BankExhausted };

struct CatAnswer {
    size_t item = 0; // index into the bank
    int score = 0;   // 0..m of that item
};

struct CatStep {
    double theta = 0, se = 1; // EAP and posterior SD after the answers
    CatStop stop = CatStop::No;
    std::optional<size_t> next; // the question to give next, none once stopped
};

// The state after answers (in the order given) and what comes next. Throws std::invalid_argument
// for an empty bank, an item outside it, an item given twice or a score outside 0..m.
CatStep catStep(const std::vector<ItemParameters>& bank, const std::vector<CatAnswer>& answers,
                const CatOptions& options);

// The most informative question at θ among those not given (given[i] true), or with k > 1 one of
// the k most informative drawn by draw (uniform in [0, 1)). None when every question was given.
std::optional<size_t> mostInformative(const std::vector<ItemParameters>& bank, const std::vector<bool>& given,
                                      double theta, int k = 1, double draw = 0);

struct SimulationResult {
    int persons = 0;
    double meanLength = 0;                      // questions per adaptive run
    double correlation = 0;                     // true against estimated θ, adaptive
    double rmse = 0;                            // adaptive
    double maxExposure = 0;                     // share of runs that got the most used question
    double fixedCorrelation = 0, fixedRmse = 0; // the whole bank as a fixed test
    int fixedLength = 0;
};

// Simulated testees, θ drawn from N(0, 1), answer by the bank's model; each answers the adaptive
// run and the full fixed test from the same responses.
SimulationResult simulateCat(const std::vector<ItemParameters>& bank, int persons, const CatOptions& options,
                             uint64_t seed);

} // namespace psychometrics::irt
