#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>

#include "engine/text.h"

namespace corvexa {

// Where a long line may be cut: right after any code unit that no result of
// the sink can hold (no match of its patterns can cross such a place).
struct LineCuts {
    std::bitset<128> held;  // the ASCII code units a result may hold
    bool After(char16_t c) const { return c >= 128 || !held[c]; }
};

// Receives the lines a reader cuts from a file's text, one at a time, in order.
// The view is valid only for the duration of the call.
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual void Line(TextView line) = 0;

    // When set, readers count the lines of a text (the first is 1) and store
    // the number of the line they hand over here just before each Line call.
    // Off, nothing is counted: lines passed over cost no more than before.
    bool numberLines = false;
    std::uint64_t lineNumber = 0;

    // During a Line call from a reader that looked at the text as bytes: the
    // line in that form, one byte a unit (ASCII as it stands, any other unit
    // a byte that is neither a key's nor a line break's). Null otherwise.
    const char* lineBytes = nullptr;

    // Lets a reader pass over lines the sink would do nothing with. Returns the
    // first position in [from, n) of text that may lie in a line the sink cares
    // about, or n when there is none; text[0, n) may be read around it. A line
    // that holds no such position may be skipped. By default every line counts.
    virtual std::size_t NextKey(const char16_t* text, std::size_t from, std::size_t n) const {
        (void)text;
        return from < n ? from : n;
    }

    // The same for text that is all ASCII, held as bytes (one byte a code
    // unit). Only when KeysInAscii is true does NextKeyAscii answer as NextKey
    // would on that text in UTF-16; a reader may then find the lines to hand
    // over before it decodes anything.
    virtual bool KeysInAscii() const { return false; }
    virtual std::size_t NextKeyAscii(const char* text, std::size_t from, std::size_t n) const {
        (void)text;
        return from < n ? from : n;
    }

    // Long lines, so that a reader need not hold a line of any length whole.
    // A sink that returns cut rules may receive a line as parts through
    // LinePart, each ending right after a place where the rules allow a cut,
    // and then the rest of the line through Line (parts the sink has no use
    // for by NextKey may be left out). Its results must be those of the whole
    // line. A line of which parts were handed over but that will not
    // be completed (a stop, a read failure) ends with AbandonLine: the sink
    // forgets it, as the whole line would never have reached it. By default a
    // sink receives every line whole.
    virtual const LineCuts* Cuts() const { return nullptr; }
    virtual void LinePart(TextView part) { (void)part; }
    virtual void AbandonLine() {}
};

}  // namespace corvexa
