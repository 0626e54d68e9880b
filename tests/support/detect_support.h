#pragma once

// What the detector's test, its fuzz target and its bench share: plain PCRE2
// with the detector's patterns, searched from the start of a line, leftmost
// match after leftmost match, with none of the detector's shortcuts; a seeded
// source of random numbers; and long texts of one piece repeated.

#ifndef PCRE2_CODE_UNIT_WIDTH
#define PCRE2_CODE_UNIT_WIDTH 16
#endif
#include <pcre2.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "engine/detect.h"
#include "engine/text.h"

namespace corvexa::test {

// Splitmix64: the same numbers from the same seed, everywhere.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : s_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }

private:
    std::uint64_t s_;
};

// `piece` again and again, until the text is at least `length` long.
inline Text Repeat(TextView piece, std::size_t length) {
    Text s;
    s.reserve(length + piece.size());
    while (s.size() < length) s.append(piece);
    return s;
}

class PlainPcre2 {
public:
    struct Patterns {
        // By the switches: web[http * 4 + https * 2 + www]; web[0] is unused,
        // and a null pattern is never searched.
        std::array<const char16_t*, 8> web{};
        const char16_t* email = nullptr;
        const char16_t* ftp = nullptr;
    };

    // The program's own patterns.
    static Patterns ProgramPatterns() {
        Patterns p;
        for (int i = 1; i < 8; ++i) p.web[i] = patterns::WebPattern(i & 4, i & 2, i & 1);
        p.email = patterns::kEmail;
        p.ftp = patterns::kFtp;
        return p;
    }

    // Compiled caseless and for the JIT, with a JIT stack of at most
    // `maxStack` bytes and no match, depth or heap limit. With `jitFastPath`
    // the searches call pcre2_jit_match, which skips the checks of
    // pcre2_match.
    PlainPcre2(const Patterns& p, std::size_t maxStack, bool jitFastPath = false)
        : fast_(jitFastPath) {
        for (int i = 1; i < 8; ++i)
            if (p.web[i]) web_[i] = Compile(p.web[i]);
        email_ = Compile(p.email);
        ftp_ = Compile(p.ftp);
        data_ = pcre2_match_data_create(4, nullptr);
        context_ = pcre2_match_context_create(nullptr);
        stack_ = pcre2_jit_stack_create(32 * 1024, maxStack, nullptr);
        pcre2_jit_stack_assign(context_, nullptr, stack_);
        pcre2_set_match_limit(context_, UINT32_MAX);
        pcre2_set_depth_limit(context_, UINT32_MAX);
        pcre2_set_heap_limit(context_, UINT32_MAX);
    }
    ~PlainPcre2() {
        for (pcre2_code* c : web_) pcre2_code_free(c);
        pcre2_code_free(email_);
        pcre2_code_free(ftp_);
        pcre2_match_data_free(data_);
        pcre2_match_context_free(context_);
        pcre2_jit_stack_free(stack_);
    }
    PlainPcre2(const PlainPcre2&) = delete;
    PlainPcre2& operator=(const PlainPcre2&) = delete;

    // Hands each match to found(TextView): the web pattern of the three web
    // switches (web addresses lose a final '.', and a final ')' without a '('
    // before it), then e-mail, then ftp. Throws std::runtime_error when a
    // search fails (beyond a limit of PCRE2 itself).
    template <typename F>
    void Each(bool http, bool https, bool www, bool email, bool ftp, TextView line, F&& found) {
        if (pcre2_code* web = web_[(http ? 4 : 0) + (https ? 2 : 0) + (www ? 1 : 0)])
            All(web, line, [&](TextView m) {
                if (!m.empty() && m.back() == u'.') m.remove_suffix(1);
                if (!m.empty() && m.back() == u')' && m.find(u'(') == TextView::npos)
                    m.remove_suffix(1);
                found(m);
            });
        if (email) All(email_, line, found);
        if (ftp) All(ftp_, line, found);
    }

    std::vector<Text> Line(bool http, bool https, bool www, bool email, bool ftp, TextView line) {
        std::vector<Text> out;
        Each(http, https, www, email, ftp, line, [&](TextView m) { out.emplace_back(m); });
        return out;
    }
    std::vector<Text> Web(bool http, bool https, bool www, TextView line) {
        return Line(http, https, www, false, false, line);
    }
    std::vector<Text> Email(TextView line) { return Line(false, false, false, true, false, line); }
    std::vector<Text> Ftp(TextView line) { return Line(false, false, false, false, true, line); }

private:
    static pcre2_code* Compile(const char16_t* pattern) {
        int error = 0;
        PCRE2_SIZE offset = 0;
        pcre2_code* code =
            pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                          PCRE2_CASELESS, &error, &offset, nullptr);
        if (!code) throw std::logic_error("pattern does not compile");
        pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
        return code;
    }

    template <typename F>
    void All(pcre2_code* code, TextView line, F&& found) {
        const auto subject = reinterpret_cast<PCRE2_SPTR>(line.data());
        std::size_t offset = 0;
        while (offset <= line.size()) {
            const int rc =
                fast_ ? pcre2_jit_match(code, subject, line.size(), offset, 0, data_, context_)
                      : pcre2_match(code, subject, line.size(), offset, 0, data_, context_);
            if (rc == PCRE2_ERROR_NOMATCH) break;
            if (rc < 0) throw std::runtime_error("plain search failed");
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
            found(line.substr(ov[0], ov[1] - ov[0]));
            offset = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
        }
    }

    const bool fast_;
    pcre2_code* web_[8] = {};
    pcre2_code* email_ = nullptr;
    pcre2_code* ftp_ = nullptr;
    pcre2_match_data* data_ = nullptr;
    pcre2_match_context* context_ = nullptr;
    pcre2_jit_stack* stack_ = nullptr;
};

}  // namespace corvexa::test
