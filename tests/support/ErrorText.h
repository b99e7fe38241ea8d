#pragma once

#include "surface/RuntimeError.h"

#include <string>

namespace raitakone::testing {

// The message of the RuntimeError the body throws, or "(no error)"; and a
// check that the statement throws one whose message holds the text.
template <typename Body>
std::string errorOf(Body body)
{
    try {
        body();
    } catch (const RuntimeError& e) {
        return e.what();
    }
    return "(no error)";
}

#define EXPECT_ERROR_NAMES(body, text)                                                                \
    do {                                                                                              \
        const std::string message_ = ::raitakone::testing::errorOf([&] { body; });                    \
        EXPECT_NE(message_.find(text), std::string::npos) << message_;                                \
    } while (false)

} // namespace raitakone::testing
