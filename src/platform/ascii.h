#pragma once

// Letter case of ASCII only, for names the program compares or builds itself
// (extensions, masks, locale names, schemes, keys): other characters are left
// as they are. For char, char16_t and char32_t.

namespace corvexa::ascii {

template <class C>
constexpr bool IsUpper(C c) {
    return c >= C('A') && c <= C('Z');
}

template <class C>
constexpr bool IsLower(C c) {
    return c >= C('a') && c <= C('z');
}

template <class C>
constexpr bool IsLetter(C c) {
    return IsUpper(c) || IsLower(c);
}

template <class C>
constexpr C ToLower(C c) {
    return IsUpper(c) ? static_cast<C>(c - C('A') + C('a')) : c;
}

template <class C>
constexpr C ToUpper(C c) {
    return IsLower(c) ? static_cast<C>(c - C('a') + C('A')) : c;
}

// Lower-cases a string in place.
template <class S>
void LowerInPlace(S& s) {
    for (auto& c : s) c = ToLower(c);
}

}  // namespace corvexa::ascii
