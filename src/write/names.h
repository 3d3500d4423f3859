// Which names the writer writes. Names go out as they are, unescaped, so a
// name that could end itself early or change the markup around it would put
// markup in the output that the caller never built: an element or an
// attribute of its own, or a comment or processing instruction in place of
// an element. Such names are refused; any other, even one that XML does not
// allow (a leading digit, other punctuation, non-ASCII symbols), is written
// and reads back as that one name.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "src/storage/quoted.h"

namespace quorvane::write {

namespace detail {

// What ends a name where it is read back, or changes what surrounds it:
// white space (form feed included, which the reader also takes as such),
// the markup characters, the quotes, '=' and '/'. A table, as names are
// checked on every copy and hold many bytes on both sides of 64.
inline constexpr auto kNameBreakers = [] {
    std::array<bool, 256> breakers{};
    for (const unsigned char c : std::string_view("\t\n\f\r \"&'/<=>")) breakers[c] = true;
    return breakers;
}();

// Why `name` cannot be written as any name, or null when it can be.
inline const char* why_unwritable(std::string_view name) {
    if (name.empty()) return "a name cannot be empty";
    // No branch per byte: the names that fail are rare.
    bool breaks = false;
    for (const char c : name) breaks |= kNameBreakers[static_cast<unsigned char>(c)];
    return breaks ? "a name cannot hold white space or any of < > & \" ' = /" : nullptr;
}

}  // namespace detail

// Why `name` cannot be written as an element's name, if it cannot.
inline std::optional<std::string> unwritable_element_name(std::string_view name) {
    const char* why = detail::why_unwritable(name);
    // "<!" and "<?" open a comment, a declaration or a processing instruction.
    if (!why && (name.front() == '!' || name.front() == '?')) {
        why = "an element name cannot start with ! or ?";
    }
    if (!why) return std::nullopt;
    return "cannot write element name " + storage::quoted(name) + ": " + why;
}

// Why `name` cannot be written as the name of an attribute of the element
// named `element`, if it cannot.
inline std::optional<std::string> unwritable_attribute_name(std::string_view name,
                                                            std::string_view element) {
    const char* why = detail::why_unwritable(name);
    if (!why) return std::nullopt;
    return "cannot write attribute name " + storage::quoted(name) + " of element " +
           storage::quoted(element) + ": " + why;
}

}  // namespace quorvane::write
