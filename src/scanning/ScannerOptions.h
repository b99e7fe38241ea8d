#pragma once

// The options of an open SANE device, and the settings a grading scan asks
// of them: grey (else colour), 8 bits, the resolution, the whole bed.

#include "scanning/Scanner.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

namespace raitakone::scanning {

// The options of an open device, found by name each time: setting one may
// change the others.
class Options {
public:
    explicit Options(SANE_Handle handle) : handle_(handle) {}

    // An active option of that name, or -1.
    SANE_Int find(const char* name) const
    {
        SANE_Int count = 0;
        if (sane_control_option(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
            return -1;
        for (SANE_Int i = 1; i < count; ++i) {
            const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
            if (d && d->name && std::strcmp(d->name, name) == 0 && SANE_OPTION_IS_ACTIVE(d->cap))
                return i;
        }
        return -1;
    }

    const SANE_Option_Descriptor* settable(const char* name, SANE_Int* index) const
    {
        *index = find(name);
        if (*index < 0)
            return nullptr;
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, *index);
        return d && SANE_OPTION_IS_SETTABLE(d->cap) ? d : nullptr;
    }

    // The number an option holds (its first element), in its own unit.
    std::optional<double> number(const char* name) const
    {
        const SANE_Int index = find(name);
        const SANE_Option_Descriptor* d = index < 0 ? nullptr : sane_get_option_descriptor(handle_, index);
        if (!d || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || d->size < SANE_Int(sizeof(SANE_Word)) ||
            !(d->cap & SANE_CAP_SOFT_DETECT))
            return std::nullopt;
        std::vector<SANE_Word> value(size_t(d->size) / sizeof(SANE_Word));
        if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, value.data(), nullptr) != SANE_STATUS_GOOD)
            return std::nullopt;
        return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(value[0]) : double(value[0]);
    }

    // Sets a number option to the allowed value nearest `wanted`; options the
    // device lacks or fixes are left. Only a status that stops the scan is
    // returned: a value the backend refuses leaves its own.
    SANE_Status setNumber(const char* name, double wanted)
    {
        SANE_Int index = -1;
        const SANE_Option_Descriptor* d = settable(name, &index);
        if (!d || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || d->size < SANE_Int(sizeof(SANE_Word)))
            return SANE_STATUS_GOOD;
        const SANE_Word word = toWord(*d, nearestAllowed(*d, wanted));
        std::vector<SANE_Word> value(size_t(d->size) / sizeof(SANE_Word), word);
        return stopping(sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, value.data(), nullptr));
    }

    // Sets a number option to the least or the greatest value it allows.
    SANE_Status setExtreme(const char* name, bool greatest)
    {
        SANE_Int index = -1;
        const SANE_Option_Descriptor* d = settable(name, &index);
        if (!d)
            return SANE_STATUS_GOOD;
        const std::vector<double> bounds = allowedBounds(*d);
        return bounds.empty() ? SANE_STATUS_GOOD : setNumber(name, greatest ? bounds[1] : bounds[0]);
    }

    // Sets a boolean option; *set says whether the device took it.
    SANE_Status setBool(const char* name, bool wanted, bool* set)
    {
        *set = false;
        SANE_Int index = -1;
        const SANE_Option_Descriptor* d = settable(name, &index);
        if (!d || d->type != SANE_TYPE_BOOL)
            return SANE_STATUS_GOOD;
        SANE_Bool value = wanted ? SANE_TRUE : SANE_FALSE;
        const SANE_Status status = sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, &value, nullptr);
        *set = status == SANE_STATUS_GOOD;
        return stopping(status);
    }

    // The value a string option holds.
    std::optional<QString> text(const char* name) const
    {
        const SANE_Int index = find(name);
        const SANE_Option_Descriptor* d = index < 0 ? nullptr : sane_get_option_descriptor(handle_, index);
        if (!d || d->type != SANE_TYPE_STRING || d->size <= 0)
            return std::nullopt;
        std::vector<char> value(size_t(d->size) + 1, '\0');
        if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, value.data(), nullptr) != SANE_STATUS_GOOD)
            return std::nullopt;
        return QString::fromUtf8(value.data());
    }

    // Sets a string option to the first listed value that `accept` takes.
    SANE_Status setString(const char* name, const std::function<bool(const QString&)>& accept, bool* set)
    {
        *set = false;
        SANE_Int index = -1;
        const SANE_Option_Descriptor* d = settable(name, &index);
        if (!d || d->type != SANE_TYPE_STRING || d->constraint_type != SANE_CONSTRAINT_STRING_LIST)
            return SANE_STATUS_GOOD;
        for (const SANE_String_Const* s = d->constraint.string_list; s && *s; ++s) {
            if (!accept(QString::fromUtf8(*s)))
                continue;
            std::vector<char> value(std::max<size_t>(size_t(d->size), std::strlen(*s) + 1), '\0');
            std::memcpy(value.data(), *s, std::strlen(*s));
            const SANE_Status status = sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, value.data(), nullptr);
            *set = status == SANE_STATUS_GOOD;
            return stopping(status);
        }
        return SANE_STATUS_GOOD;
    }

    static double nearestAllowed(const SANE_Option_Descriptor& d, double wanted)
    {
        const auto value = [&d](SANE_Word w) { return d.type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w); };
        if (d.constraint_type == SANE_CONSTRAINT_RANGE && d.constraint.range) {
            const double min = value(d.constraint.range->min), max = value(d.constraint.range->max);
            const double quant = value(d.constraint.range->quant);
            double v = std::clamp(wanted, min, max);
            if (quant > 0.0)
                v = std::clamp(min + std::round((v - min) / quant) * quant, min, max);
            return v;
        }
        if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST && d.constraint.word_list &&
            d.constraint.word_list[0] > 0) {
            double best = value(d.constraint.word_list[1]);
            for (SANE_Int i = 2; i <= d.constraint.word_list[0]; ++i) {
                const double v = value(d.constraint.word_list[i]);
                if (std::fabs(v - wanted) < std::fabs(best - wanted))
                    best = v;
            }
            return best;
        }
        return wanted;
    }

private:
    static SANE_Word toWord(const SANE_Option_Descriptor& d, double v)
    {
        return d.type == SANE_TYPE_FIXED ? SANE_FIX(v) : SANE_Word(std::lround(v));
    }

    // Least and greatest allowed, or nothing when the option is unbounded.
    static std::vector<double> allowedBounds(const SANE_Option_Descriptor& d)
    {
        const auto value = [&d](SANE_Word w) { return d.type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w); };
        if (d.constraint_type == SANE_CONSTRAINT_RANGE && d.constraint.range)
            return {value(d.constraint.range->min), value(d.constraint.range->max)};
        if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST && d.constraint.word_list && d.constraint.word_list[0] > 0) {
            std::vector<double> all;
            for (SANE_Int i = 1; i <= d.constraint.word_list[0]; ++i)
                all.push_back(value(d.constraint.word_list[i]));
            return {*std::min_element(all.begin(), all.end()), *std::max_element(all.begin(), all.end())};
        }
        return {};
    }

    static SANE_Status stopping(SANE_Status status)
    {
        return status == SANE_STATUS_DEVICE_BUSY || status == SANE_STATUS_IO_ERROR || status == SANE_STATUS_NO_MEM
                   ? status
                   : SANE_STATUS_GOOD;
    }

    SANE_Handle handle_;
};

// The settings of one scan: grey where offered (colour read through its
// red channel otherwise, or when colour is asked for), 8 bits a sample, the
// requested resolution, the whole bed.
// A SANE source value that names a document feeder: "Automatic Document
// Feeder", "ADF", "ADF Front".
bool isFeederSource(const QString& source);
// Sets the source to the device's document feeder; *present is false when
// it offers none.
SANE_Status chooseFeeder(Options& options, bool* present);

// Also keeps the output the same from scan to scan where the device offers
// the options: the backend's custom gamma table off (its own fixed curve is
// used, which a calibration then measures) and automatic levels, exposure,
// brightness and contrast off. *applied, when given, gets what the device
// now holds of every option set, as "name=value", for the record.
SANE_Status configureScan(Options& options, const ScanRequest& request, QStringList* applied = nullptr);

} // namespace raitakone::scanning
