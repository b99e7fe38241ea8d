#pragma once

#include <clocale>
#include <string>

namespace raitakone::testing {

// The C library in the Finnish locale for the scope, as Qt leaves it at
// start-up on a Finnish desktop (decimal comma in printf and strtod); the
// locale before is restored after. available() is false on a machine that
// lacks fi_FI.UTF-8 (scripts/setup.sh generates it).
class FinnishLocale {
public:
    FinnishLocale() : before_(std::setlocale(LC_ALL, nullptr)) { available_ = std::setlocale(LC_ALL, "fi_FI.UTF-8"); }
    ~FinnishLocale() { std::setlocale(LC_ALL, before_.c_str()); }
    FinnishLocale(const FinnishLocale&) = delete;
    FinnishLocale& operator=(const FinnishLocale&) = delete;
    bool available() const { return available_; }

private:
    std::string before_;
    bool available_ = false;
};

} // namespace raitakone::testing
