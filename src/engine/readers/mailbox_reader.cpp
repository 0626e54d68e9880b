#include "engine/readers/mailbox_reader.h"

#include <algorithm>

namespace corvexa {

namespace {

bool EndsWithNoCase(std::string_view name, std::string_view ending) {
    if (name.size() < ending.size()) return false;
    name.remove_prefix(name.size() - ending.size());
    return std::equal(name.begin(), name.end(), ending.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

std::string_view LastPart(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Cuts an mbox into messages line by line.
class Splitter {
public:
    Splitter(std::size_t maxMessage, const MessageVisitor& visit,
             const std::function<void(std::uint64_t)>& tooLong)
        : max_(maxMessage), visit_(visit), tooLong_(tooLong) {}

    // One whole line, its break included.
    void Line(std::string_view line) {
        const bool blank = line == "\n" || line == "\r\n";
        if ((number_ == 0 || lastBlank_) && line.substr(0, 5) == "From ") {
            End();
            ++number_;
            lastBlank_ = false;
            return;
        }
        lastBlank_ = blank;
        if (number_ == 0 || over_) return;
        std::size_t quotes = 0;
        while (quotes < line.size() && line[quotes] == '>') ++quotes;
        if (quotes > 0 && line.substr(quotes, 5) == "From ") line.remove_prefix(1);
        if (message_.size() + line.size() > max_) {
            over_ = true;
            message_.clear();
            return;
        }
        message_.append(line);
    }
    // A line so long it is not held: it only makes its message too long.
    void Overlong() {
        lastBlank_ = false;
        if (number_ != 0) over_ = true, message_.clear();
    }
    void End() {
        if (number_ != 0) {
            if (over_)
                tooLong_(number_);
            else
                visit_(number_, message_);
        }
        message_.clear();
        over_ = false;
    }
    std::uint64_t Count() const { return number_; }

private:
    std::size_t max_;
    const MessageVisitor& visit_;
    const std::function<void(std::uint64_t)>& tooLong_;
    std::string message_;
    std::uint64_t number_ = 0;
    bool lastBlank_ = false;
    bool over_ = false;
};

}  // namespace

bool IsMboxName(std::string_view path) {
    const std::string_view name = LastPart(path);
    return name == "mbox" || EndsWithNoCase(name, ".mbox") || EndsWithNoCase(name, ".mbx");
}

bool IsMaildirMessage(std::string_view path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return false;
    const std::string_view folder = LastPart(path.substr(0, slash));
    return folder == "cur" || folder == "new";
}

std::uint64_t ReadMbox(ByteSource& source, std::size_t maxMessage, const MessageVisitor& visit,
                       const std::function<void(std::uint64_t number)>& tooLong,
                       const std::atomic<bool>& stop) {
    source.Open();
    Splitter splitter(maxMessage, visit, tooLong);
    std::string pending;
    bool dropping = false;  // inside a line too long to hold
    char buffer[1 << 16];
    bool first = true;
    for (;;) {
        if (stop.load(std::memory_order_relaxed)) return splitter.Count();
        const std::size_t n = source.Read(buffer, sizeof buffer);
        if (first && std::string_view(buffer, n).substr(0, 5) != "From ") return 0;
        first = false;
        if (n == 0) break;
        std::string_view block(buffer, n);
        while (!block.empty()) {
            const std::size_t eol = block.find('\n');
            const std::size_t take = eol == std::string_view::npos ? block.size() : eol + 1;
            if (!dropping) pending.append(block.substr(0, take));
            if (pending.size() > maxMessage) {
                pending.clear();
                dropping = true;
                splitter.Overlong();
            }
            block.remove_prefix(take);
            if (eol == std::string_view::npos) break;
            if (!dropping) splitter.Line(pending);
            pending.clear();
            dropping = false;
        }
    }
    if (!pending.empty() && !dropping) splitter.Line(pending);
    splitter.End();
    return splitter.Count();
}

}  // namespace corvexa
