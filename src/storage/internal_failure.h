// The failure value of a broken internal invariant, shared by the code that
// runs without the interpreter.
#pragma once

#include <string>

namespace quorvane {

// The call boundary raises it as PanicException.
struct InternalFailure {
    std::string message;
};

}  // namespace quorvane
