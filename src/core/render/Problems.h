// Problems: every error item of the parse and every rule of the stream broken beyond its
// syntax, in one list, each pointing at an item, a place in the file and a picture. The
// Problems dock and bitloupe-cli check show it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/render/StreamStats.h"
#include "core/syntax/StreamState.h"
#include "core/tree/TreeStore.h"

namespace bitloupe {

enum class Severity : uint8_t { kNote = 0, kWarning = 1, kError = 2 };

const char* SeverityName(Severity s);  // "note", "warning", "error"

struct Problem {
    Severity severity = Severity::kError;
    std::string code;      // short and stable: "marker-bit", "temporal-ref-gap", ...
    std::string message;   // in plain words
    TreeItem item = 0;     // what it points at (0 when nothing is listed there)
    uint64_t offset = 0;   // file offset of the item's first byte
    uint32_t picture = 0;  // the picture it belongs to (stream order, from 1), 0 for none
};

// The codes a check can report, with their severity and what they mean, for the documentation
// and the dock's filter.
struct ProblemCode {
    const char* code;
    Severity severity;
    const char* meaning;
};
const std::vector<ProblemCode>& ProblemCodes();

// The problems kept up to date while a parse runs. Each update looks only at what the parse
// added since the one before: error items as they come, a picture's checks once it is settled
// (StatsGatherer), a GOP's once all its pictures are, a pack's once another follows it. Updates
// at any points of a parse end with the list one update at its end gives.
class ProblemFinder {
  public:
    ProblemFinder();
    ~ProblemFinder();
    ProblemFinder(const ProblemFinder&) = delete;
    ProblemFinder& operator=(const ProblemFinder&) = delete;

    // The caller holds the tree's lock, the parse has ended or waits at its gate, and `stats`
    // were gathered in the same hold, their first `settled` pictures settled. `ended`: nothing
    // more comes.
    void Update(const TreeStore& tree, const CStreamState& stream, const StreamStats& stats,
                size_t settled, bool ended);
    void Reset();
    // Checks picture `number` (from 1, settled) again after its macroblocks were parsed or
    // deleted, and drops the problems of items gone from the tree. `stats` hold its new figures.
    void RecheckMacroblocks(const TreeStore& tree, const CStreamState& stream,
                            const StreamStats& stats, uint32_t number);
    // In file order (at one offset, in the order of ProblemCodes()).
    const std::vector<Problem>& Problems() const { return problems_; }
    // Changes whenever the list does.
    uint64_t Version() const { return version_; }

    struct State;

  private:
    // Adds the problems found to the list in its order, and drops those of the error items
    // that gave way to one below them.
    void Merge(const TreeStore& tree, std::vector<Problem>& found,
               const std::vector<TreeItem>& superseded);
    std::unique_ptr<State> state_;
    std::vector<Problem> problems_;
    uint64_t version_ = 0;
};

// The problems of the stream as parsed so far, in file order (problems of the same place in the
// order of ProblemCodes()): one update of a ProblemFinder. The caller holds the tree's lock while
// the parse is stopped or paused; `stats` are the stream's figures (GatherStreamStats).
std::vector<Problem> FindProblems(const TreeStore& tree, const CStreamState& stream,
                                  const StreamStats& stats);

}  // namespace bitloupe
