// A name as the system's messages show it: in single quotes.
#pragma once

#include <string>
#include <string_view>

namespace quorvane::storage {

inline std::string quoted(std::string_view name) {
    std::string text;
    text.reserve(name.size() + 2);
    text += '\'';
    text += name;
    text += '\'';
    return text;
}

}  // namespace quorvane::storage
