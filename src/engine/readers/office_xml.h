#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace corvexa {

// Small pieces of XML reading shared by the office document link readers.
// They read text that may be damaged or hostile: nothing here reads past the
// text's end, and what cannot be read is passed over.

// The XML entities a value or text holds, undone; anything else stays as it is.
std::string DecodeEntities(std::string_view v);

// The attributes of the element whose name ends at `pos`, up to its '>', by
// their names as written (with any prefix), their values' entities undone.
std::map<std::string, std::string> Attributes(std::string_view xml, std::size_t pos);

// The value of the attribute whose name, less any prefix, is `local`; empty
// when there is none.
std::string AttributeValue(const std::map<std::string, std::string>& attributes,
                           std::string_view local);

// One element's start (or end) tag in a part, as XmlTags finds it.
struct XmlTag {
    std::size_t start = 0;    // where its '<' is
    std::string_view local;   // its name less any prefix ("instrText")
    std::size_t nameEnd = 0;  // where its name ends: its attributes follow
    bool closing = false;     // </name>
    bool empty = false;       // <name/>
    // The text after the tag, up to the next '<' (raw, entities not undone).
    std::string_view text;
};

// Reads a part's tags in order; comments, processing instructions,
// declarations and CDATA sections are passed over.
class XmlTagReader {
public:
    explicit XmlTagReader(std::string_view xml) : xml_(xml) {}
    // The next tag; false at the part's end.
    bool Next(XmlTag& tag);

private:
    std::string_view xml_;
    std::size_t pos_ = 0;
};

}  // namespace corvexa
