// Parsing a frame into LZX items: which bytes go as literals and which as
// matches. Two parsers behind one interface: a greedy one with one step of
// lazy evaluation over hash buckets (the fastest effort), and a near-optimal
// one that prices every choice from the codes and takes the cheapest path.
#pragma once

#include "cabinet/Layer.h"

#include "cabinet/LzxBlockPlanning.h"
#include "cabinet/LzxFormat.h"
#include "cabinet/LzxMatchFinding.h"

#include <memory>
#include <vector>

namespace tirn::cabinet::lzx {

class Parser {
  public:
    virtual ~Parser() = default;
    // Whether Prepare does any work: the encoder then runs it on a second
    // thread, one frame ahead of the parse.
    virtual bool Prepares() const { return false; }
    // The work on the frame [frameStart, frameEnd) that depends only on the
    // history (the match search), apart from its parse: called for every
    // frame in order, at most one frame ahead of Parse, and possibly on
    // another thread while the frame before is parsed.
    virtual void Prepare(uint32_t /*frameStart*/, uint32_t /*frameEnd*/) {}
    // The items of the frame [frameStart, frameEnd) of the history, none
    // crossing its end; repeats are the offsets at its start, moved on to
    // its end. previous holds the codes the last block was written with
    // (empty before the first).
    virtual std::vector<Item> Parse(uint32_t frameStart, uint32_t frameEnd, RepeatOffsets& repeats,
                                    const BlockCodes& previous) = 0;
    // Parses the last frame again, priced by codes, when this parser prices
    // by codes at all: the items and the offsets after them replace what
    // Parse gave. Returns whether it did.
    virtual bool ParseAgain(const BlockCodes&, RepeatOffsets&, std::vector<Item>&) { return false; }
};

std::unique_ptr<Parser> MakeGreedyParser(const History& history);

struct NearOptimalSettings {
    int searchDepth;      // tree nodes visited a position
    uint32_t niceLength;  // a match this long is taken at once
    int passes;           // parses of each frame, the first priced by the last frame's
                          // codes, each other by the parse before it
};
std::unique_ptr<Parser> MakeNearOptimalParser(const History& history, int mainSymbols,
                                              const NearOptimalSettings& settings);

}  // namespace tirn::cabinet::lzx
