// The LZX encoder: each 32 KiB frame of the folder is appended to the
// history, translated (x86 calls) and parsed into items by the effort's
// parser; frames alike share a block, and so its trees (LzxFormat.h says
// how the stream is laid out).
//
// Where decoders are known to differ, this encoder keeps to what all of
// them take: blocks start and end at frames' ends; no match crosses a
// frame's end or the window's wrap; no uncompressed blocks (their padding is
// read differently); every code complete, with two symbols at least; no
// data block above kMaxDataBlockBytes (a frame costs at most its literals,
// and one that its block's shared trees make larger is written alone).
#include "cabinet/FolderEncoder.h"
#include "cabinet/LzxBlockWriting.h"
#include "cabinet/LzxFormat.h"
#include "cabinet/LzxMatchFinding.h"
#include "cabinet/LzxParsing.h"
#include "format/ByteReader.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace tirn::cabinet {
namespace {

using namespace lzx;

// A block's frames are held until it is written: at most 256 KiB of input.
constexpr size_t kMaxBlockFrames = 8;

std::unique_ptr<Parser> MakeParser(const History& history, int mainSymbols, LzxEffort effort) {
    switch (effort) {
        case LzxEffort::Fastest: return MakeGreedyParser(history);
        case LzxEffort::Normal:
            // One pass a frame, priced by the last frame's codes: a second
            // pass gains under 1 % for half again the time. Matches are
            // taken at once from 64 bytes: from 48, repetitive text lost
            // 2 % to whole-content near-optimal parsers; from 128, the walk
            // over every length of every long match costs a third more.
            return MakeNearOptimalParser(history, mainSymbols,
                                         {.searchDepth = 16, .niceLength = 64, .passes = 1});
        case LzxEffort::Best:
            return MakeNearOptimalParser(history, mainSymbols,
                                         {.searchDepth = 48, .niceLength = 128, .passes = 3});
    }
    throw std::invalid_argument("unknown LZX effort");
}

// One thread kept for the whole folder, running one job at a time: a
// thread started for each frame's job would be placed on the core of the
// thread that started it and seldom get a core of its own.
class SecondThread {
  public:
    SecondThread() : m_thread([this] { Serve(); }) {}
    ~SecondThread() {
        {
            std::lock_guard lock(m_mutex);
            m_job = nullptr;
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    SecondThread(const SecondThread&) = delete;
    SecondThread& operator=(const SecondThread&) = delete;

    // Runs job there; the one before must have been waited for.
    void Start(std::function<void()> job) {
        {
            std::lock_guard lock(m_mutex);
            if (m_busy) throw std::logic_error("LZX: a search started before the last ended");
            m_job = std::move(job);
            m_busy = true;
        }
        m_changed.notify_all();
    }
    // Waits for the job started last, if any; rethrows what it threw.
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_busy; });
        if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
    }

  private:
    void Serve() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_stop || m_busy; });
            if (m_stop) return;
            std::function<void()> job = std::move(m_job);
            lock.unlock();
            std::exception_ptr failure;
            try {
                job();
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            m_failure = failure;
            m_busy = false;
            m_changed.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_job;
    bool m_busy = false, m_stop = false;
    std::exception_ptr m_failure;
    std::thread m_thread;  // last: it starts serving once the rest is made
};

class LzxEncoder : public FolderEncoder {
  public:
    LzxEncoder(unsigned windowBits, LzxEffort effort, uint32_t dataBlockLimit, unsigned threads)
        : m_windowBits(windowBits),
          m_dataBlockLimit(dataBlockLimit),
          m_threads(threads),
          m_mainSymbols(kChars + SlotCount(windowBits) * static_cast<int>(kLengthHeaders)),
          m_history(1u << windowBits),
          m_parser(MakeParser(m_history, m_mainSymbols, effort)),
          m_blockCounts(m_mainSymbols) {}

    uint16_t CompressionField() const override {
        return cabinet::CompressionField(Compression::Lzx, m_windowBits);
    }

    void Encode(std::span<const uint8_t> input, bool last, std::vector<DataBlock>& out) override {
        for (size_t at = 0; at < input.size(); at += kFrameSize) {
            Admit(input.subspan(at, std::min<size_t>(kFrameSize, input.size() - at)), out);
        }
        if (last) {
            AwaitSearch();
            if (m_pendingSize > 0) EncodeFrame(m_pendingStart, m_pendingSize, out);
            m_pendingSize = 0;
            CloseBlock(out);
        }
    }

  private:
    // The x86 call translation of one frame, in place: a relative call
    // target after an 0xE8 byte becomes absolute, as the decoder undoes it.
    void Translate(uint8_t* frame, uint32_t size) const {
        if (m_frameIndex >= kTranslatedFrames || size <= kUntranslatedTail) return;
        const uint32_t start = m_frameIndex * kFrameSize;
        for (uint32_t i = 0; i < size - kUntranslatedTail;) {
            if (frame[i] != 0xE8) {
                ++i;
                continue;
            }
            const auto position = static_cast<int32_t>(start + i);
            uint8_t* operand = frame + i + 1;
            const auto relative = static_cast<int32_t>(format::LoadLittleEndian32(operand));
            const auto size32 = static_cast<int32_t>(kTranslationSize);
            if (relative >= -position && relative < size32) {
                const int32_t absolute =
                    relative < size32 - position ? relative + position : relative - size32;
                format::StoreLittleEndian32(operand, static_cast<uint32_t>(absolute));
            }
            i += 5;
        }
    }

    // A frame is searched as soon as it comes, on the second thread when
    // there is one, while the frame before it is parsed and coded here. The
    // same work in the same order either way: the bytes do not depend on
    // the threads.
    void Admit(std::span<const uint8_t> frame, std::vector<DataBlock>& out) {
        AwaitSearch();  // appending moves the history
        const auto size = static_cast<uint32_t>(frame.size());
        const uint32_t frameStart = m_history.Append(frame);
        Translate(m_history.Data(frameStart), size);
        ++m_frameIndex;
        if (m_threads > 1 && m_parser->Prepares() && !m_search) {
            try {
                m_search = std::make_unique<SecondThread>();
            } catch (const std::system_error&) {
                m_threads = 1;  // no thread to be had: the same work, here
            }
        }
        if (m_search) {
            m_search->Start(
                [this, frameStart, size] { m_parser->Prepare(frameStart, frameStart + size); });
        } else {
            m_parser->Prepare(frameStart, frameStart + size);
        }
        if (m_pendingSize > 0) EncodeFrame(m_pendingStart, m_pendingSize, out);
        m_pendingStart = frameStart;
        m_pendingSize = size;
    }

    void AwaitSearch() {
        if (m_search) m_search->Wait();  // a failed search throws here
    }

    void EncodeFrame(uint32_t frameStart, uint32_t size, std::vector<DataBlock>& out) {
        const RepeatOffsets repeatsAtStart = m_repeats;
        FrameItems next{
            m_parser->Parse(frameStart, frameStart + size, m_repeats, m_blockPlan.codes), size};
        SymbolCounts counts(next.items, m_mainSymbols);
        // The frame as a block of its own, after the open one.
        uint64_t alone = PlanBlock(counts, m_blockPlan.codes).bits;
        // Priced by codes unlike its own (noise after text), a parse can
        // cost more than the frame's bytes sent as literals; literals it is
        // then. A frame never costs more than its literals: a block of its
        // own always fits a data block.
        const bool literals = TakeLiteralsIfCheaper(frameStart, next, counts, alone);
        if (literals) m_repeats = repeatsAtStart;
        if (!m_block.empty() && m_block.size() < kMaxBlockFrames) {
            // The frame joins the open block when one block of both costs
            // less than two: a block's trees cost some 3 % of a frame.
            SymbolCounts joined = m_blockCounts;
            joined.Add(counts);
            BlockPlan together = PlanBlock(joined, m_writer.Sent());
            if (together.bits <= m_blockPlan.bits + alone) {
                m_block.push_back(std::move(next));
                m_blockCounts = std::move(joined);
                m_blockPlan = std::move(together);
                return;
            }
        }
        CloseBlock(out);
        // A frame unlike the block before it was priced by codes not its
        // own: parsed again with its own, it starts the next block (unless
        // that parse costs more).
        if (!literals) ParseAgain(next, counts);
        m_block.push_back(std::move(next));
        m_blockCounts = std::move(counts);
        m_blockPlan = PlanBlock(m_blockCounts, m_writer.Sent());
    }

    bool TakeLiteralsIfCheaper(uint32_t frameStart, FrameItems& frame, SymbolCounts& counts,
                               uint64_t& alone) {
        const uint8_t* bytes = m_history.Data(frameStart);
        SymbolCounts literalCounts(m_mainSymbols);
        for (uint32_t i = 0; i < frame.size; ++i) ++literalCounts.main[bytes[i]];
        const uint64_t literalBits = PlanBlock(literalCounts, m_blockPlan.codes).bits;
        if (literalBits >= alone) return false;
        frame.items.clear();
        for (uint32_t i = 0; i < frame.size; ++i) frame.items.push_back(LiteralItem(bytes[i]));
        counts = std::move(literalCounts);
        alone = literalBits;
        return true;
    }

    void ParseAgain(FrameItems& frame, SymbolCounts& counts) {
        const BlockPlan own = PlanBlock(counts, m_writer.Sent());
        RepeatOffsets repeats = m_repeats;
        std::vector<Item> items;
        if (!m_parser->ParseAgain(own.codes, repeats, items)) return;
        SymbolCounts again(items, m_mainSymbols);
        if (PlanBlock(again, m_writer.Sent()).bits > own.bits) return;
        frame.items = std::move(items);
        counts = std::move(again);
        m_repeats = repeats;
    }

    void CloseBlock(std::vector<DataBlock>& out) {
        if (m_block.empty()) return;
        const size_t first = out.size();
        const BlockWriter before = m_writer;
        m_writer.Put(m_block, m_blockPlan, out);
        const bool fits =
            std::all_of(out.begin() + static_cast<ptrdiff_t>(first), out.end(),
                        [this](const DataBlock& b) { return b.bytes.size() <= m_dataBlockLimit; });
        if (!fits) {
            // A frame coded by trees shared with frames unlike it can
            // outgrow a data block: each frame is written again as a block
            // of its own, which fits (it costs no more than its literals).
            out.resize(first);
            m_writer = before;
            for (FrameItems& frame : m_block) {
                std::vector<FrameItems> alone;
                alone.push_back(std::move(frame));
                m_writer.Put(
                    alone, PlanBlock(SymbolCounts(alone[0].items, m_mainSymbols), m_writer.Sent()),
                    out);
                if (out.back().bytes.size() > m_dataBlockLimit) {
                    throw std::logic_error("LZX: a frame alone outgrew a data block");
                }
            }
        }
        m_block.clear();
    }

    const unsigned m_windowBits;
    const uint32_t m_dataBlockLimit;
    unsigned m_threads;
    const int m_mainSymbols;
    History m_history;
    std::unique_ptr<Parser> m_parser;
    BlockWriter m_writer;
    RepeatOffsets m_repeats;
    uint32_t m_frameIndex = 0;
    // The open block: its frames, what they use, and its plan (whose codes
    // price the next frame's parse).
    std::vector<FrameItems> m_block;
    SymbolCounts m_blockCounts;
    BlockPlan m_blockPlan;
    // The frame admitted last, searched but not yet parsed.
    uint32_t m_pendingStart = 0, m_pendingSize = 0;
    // Where the next frame is searched when there are two threads; last,
    // so that it stops before anything it uses goes.
    std::unique_ptr<SecondThread> m_search;
};

}  // namespace

std::unique_ptr<FolderEncoder> MakeLzxEncoder(unsigned windowBits, LzxEffort effort,
                                              uint32_t dataBlockLimit, unsigned threads) {
    return std::make_unique<LzxEncoder>(windowBits, effort, dataBlockLimit, threads);
}

}  // namespace tirn::cabinet
