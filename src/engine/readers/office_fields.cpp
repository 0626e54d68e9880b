#include "engine/readers/office_fields.h"

#include <algorithm>

#include "engine/readers/office_xml.h"

namespace corvexa {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

bool ContainsLetters(std::string_view text, std::string_view word) {
    return std::search(text.begin(), text.end(), word.begin(), word.end(),
                       [](char x, char y) { return Lower(x) == Lower(y); }) != text.end();
}

// Typographic quotes, which a field instruction may use as well.
constexpr std::string_view kLeftQuote = "\xE2\x80\x9C", kRightQuote = "\xE2\x80\x9D";

// One piece of a field instruction: a switch (`\o`: its letter) or an
// argument, quoted or not.
struct FieldToken {
    bool isSwitch = false;
    char letter = 0;
    std::string text;
};

// The quoted argument from `pos` (at its opening quote) on; \" is a quote and
// \\ a backslash inside it. An argument with no closing quote runs to the end.
std::string QuotedArgument(std::string_view s, std::size_t& pos, std::string_view close) {
    std::string text;
    while (pos < s.size()) {
        if (s.compare(pos, close.size(), close) == 0) {
            pos += close.size();
            return text;
        }
        if (s[pos] == '\\' && pos + 1 < s.size() && (s[pos + 1] == '"' || s[pos + 1] == '\\'))
            ++pos;
        text += s[pos++];
    }
    return text;
}

bool NextToken(std::string_view s, std::size_t& pos, FieldToken& token) {
    while (pos < s.size() && IsSpace(s[pos])) ++pos;
    if (pos >= s.size()) return false;
    token = FieldToken{};
    if (s[pos] == '\\') {
        token.isSwitch = true;
        token.letter = pos + 1 < s.size() ? Lower(s[pos + 1]) : 0;
        pos += 2;
    } else if (s[pos] == '"') {
        ++pos;
        token.text = QuotedArgument(s, pos, "\"");
    } else if (s.compare(pos, kLeftQuote.size(), kLeftQuote) == 0) {
        pos += kLeftQuote.size();
        token.text = QuotedArgument(s, pos, kRightQuote);
    } else {
        const std::size_t start = pos;
        while (pos < s.size() && !IsSpace(s[pos])) ++pos;
        token.text = std::string(s.substr(start, pos - start));
    }
    return true;
}

// The switches that take an argument: HYPERLINK's bookmark (\l), tip (\o)
// and frame (\t), and the format switches any field may carry.
bool TakesArgument(char letter) {
    return letter == 'l' || letter == 'o' || letter == 't' || letter == '*' || letter == '@' ||
           letter == '#';
}

// A string literal from `pos` (just past its opening quote): "" is a quote
// inside it. Nothing when it has no closing quote.
std::optional<std::string> StringLiteral(std::string_view f, std::size_t& pos) {
    std::string text;
    while (pos < f.size()) {
        if (f[pos] == '"') {
            if (pos + 1 < f.size() && f[pos + 1] == '"') {
                text += '"';
                pos += 2;
                continue;
            }
            ++pos;
            return text;
        }
        text += f[pos++];
    }
    return std::nullopt;
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '\\';
}

void SkipSpaces(std::string_view f, std::size_t& pos) {
    while (pos < f.size() && IsSpace(f[pos])) ++pos;
}

// Appends a run's text (raw XML) to an instruction, within its bound.
void AppendInstruction(std::string& instruction, std::string_view raw) {
    if (instruction.size() >= kMaxFieldInstruction) return;
    instruction += DecodeEntities(raw.substr(0, kMaxFieldInstruction - instruction.size()));
}

struct OpenField {
    std::size_t start = 0;
    std::string instruction;
    bool separated = false;  // its instruction is complete, its result follows
};

class WordFields {
public:
    WordFields(std::string_view xml, std::size_t limit) : xml_(xml), limit_(limit) {}

    std::vector<PlacedLink> Read() {
        XmlTagReader reader(xml_);
        XmlTag tag;
        while (links_.size() < limit_ && reader.Next(tag)) {
            if (tag.closing) continue;
            if (tag.local == "fldChar") {
                FieldChar(AttributeValue(Attributes(xml_, tag.nameEnd), "fldCharType"), tag.start);
            } else if (tag.local == "instrText" && !tag.empty) {
                if (passedOver_ == 0 && !open_.empty() && !open_.back().separated)
                    AppendInstruction(open_.back().instruction, tag.text);
            } else if (tag.local == "t" && !tag.empty) {
                // A nested field's result is part of the instruction around it.
                const std::size_t n = open_.size();
                if (passedOver_ == 0 && n >= 2 && open_[n - 1].separated && !open_[n - 2].separated)
                    AppendInstruction(open_[n - 2].instruction, tag.text);
            } else if (tag.local == "fldSimple") {
                const std::string instruction =
                    AttributeValue(Attributes(xml_, tag.nameEnd), "instr");
                Finish(tag.start, std::string_view(instruction).substr(0, kMaxFieldInstruction));
            }
        }
        // Fields left open at the part's end whose instruction was complete.
        for (const OpenField& f : open_)
            if (f.separated) Finish(f.start, f.instruction);
        // A nested field ends before the field around it.
        std::stable_sort(
            links_.begin(), links_.end(),
            [](const PlacedLink& a, const PlacedLink& b) { return a.offset < b.offset; });
        return std::move(links_);
    }

private:
    void FieldChar(const std::string& type, std::size_t at) {
        if (type == "begin") {
            if (passedOver_ > 0 || open_.size() >= kMaxFieldDepth) {
                ++passedOver_;
            } else {
                open_.push_back({at, {}, false});
            }
        } else if (type == "separate") {
            if (passedOver_ == 0 && !open_.empty()) open_.back().separated = true;
        } else if (type == "end") {
            if (passedOver_ > 0) {
                --passedOver_;
            } else if (!open_.empty()) {
                Finish(open_.back().start, open_.back().instruction);
                open_.pop_back();
            }
        }
    }

    void Finish(std::size_t at, std::string_view instruction) {
        if (links_.size() >= limit_) return;
        if (auto address = HyperlinkFieldAddress(instruction))
            links_.push_back({at, std::move(*address)});
    }

    std::string_view xml_;
    std::size_t limit_;
    std::vector<OpenField> open_;
    std::size_t passedOver_ = 0;  // fields begun past the depth bound, still open
    std::vector<PlacedLink> links_;
};

std::vector<PlacedLink> SheetFormulaLinks(std::string_view xml, std::size_t limit) {
    std::vector<PlacedLink> links;
    XmlTagReader reader(xml);
    XmlTag tag;
    while (links.size() < limit && reader.Next(tag)) {
        if (tag.closing || tag.empty || tag.local != "f") continue;
        const std::string formula = DecodeEntities(tag.text.substr(0, kMaxFieldInstruction));
        for (std::string& address : FormulaHyperlinkAddresses(formula))
            if (links.size() < limit) links.push_back({tag.start, std::move(address)});
    }
    return links;
}

}  // namespace

std::optional<std::string> HyperlinkFieldAddress(std::string_view instruction) {
    std::size_t pos = 0;
    FieldToken token;
    if (!NextToken(instruction, pos, token) || token.isSwitch ||
        !SameLetters(token.text, "HYPERLINK"))
        return std::nullopt;
    std::optional<std::string> address;
    bool switchArgument = false;
    while (NextToken(instruction, pos, token)) {
        if (token.isSwitch) {
            switchArgument = TakesArgument(token.letter);
        } else if (switchArgument) {
            switchArgument = false;
        } else if (!address) {
            address = std::move(token.text);
        }
    }
    if (!address || address->empty()) return std::nullopt;
    return address;
}

std::vector<std::string> FormulaHyperlinkAddresses(std::string_view f) {
    std::vector<std::string> addresses;
    std::size_t pos = 0;
    while (pos < f.size()) {
        const char c = f[pos];
        if (c == '"') {
            ++pos;
            StringLiteral(f, pos);
        } else if (c == '\'') {  // a quoted sheet name: '' is a quote inside it
            for (++pos; pos < f.size(); ++pos) {
                if (f[pos] != '\'') continue;
                if (pos + 1 < f.size() && f[pos + 1] == '\'') {
                    ++pos;
                } else {
                    break;
                }
            }
            ++pos;
        } else if (IsNameChar(c)) {
            const std::size_t start = pos;
            while (pos < f.size() && IsNameChar(f[pos])) ++pos;
            if (!SameLetters(f.substr(start, pos - start), "HYPERLINK")) continue;
            SkipSpaces(f, pos);
            if (pos >= f.size() || f[pos] != '(') continue;
            std::size_t arg = pos + 1;
            SkipSpaces(f, arg);
            if (arg >= f.size() || f[arg] != '"') continue;
            ++arg;
            std::optional<std::string> literal = StringLiteral(f, arg);
            SkipSpaces(f, arg);
            // The literal must be the whole argument ("a"&B1 is not).
            if (literal && !literal->empty() && arg < f.size() && (f[arg] == ',' || f[arg] == ')'))
                addresses.push_back(std::move(*literal));
            pos = arg;
        } else {
            ++pos;
        }
    }
    return addresses;
}

std::vector<PlacedLink> FieldLinks(std::string_view xml, bool sheet, std::size_t limit) {
    if (sheet) {
        if (!ContainsLetters(xml, "HYPERLINK")) return {};
        return SheetFormulaLinks(xml, limit);
    }
    if (xml.find("instrText") == std::string_view::npos &&
        xml.find("fldSimple") == std::string_view::npos)
        return {};
    return WordFields(xml, limit).Read();
}

}  // namespace corvexa
