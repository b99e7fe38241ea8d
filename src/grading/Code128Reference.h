#pragma once

// Code 128 read the way a verifier reads it: the reference decode of
// ISO/IEC 15417 (as GS1 gives it for GS1-128),
// from the element widths of one scan line: edge-to-similar-edge
// measurements against the reference thresholds, the check on the sum of the
// three bars, the check character and the quiet zones.

#include <string>
#include <vector>

namespace raitakone::grading {

// Module widths of the six elements (bar, space, ... ) of value 0..105, and
// the seven of the stop character (106).
const std::vector<int>& code128Pattern(int value);
inline constexpr int kCode128Stop = 106;

struct CharacterDecode {
    int value = -1;             // -1: no character has these measurements
    double decodability = 0.0;  // smallest margin to a threshold, in half modules
    std::vector<int> modules;   // the element widths the character has, in modules
    bool barSum = false;        // the three bars together lie within 1.75 modules of the value's own
    bool lastBar = true;        // the stop character's last bar is within a module of two
};

// One character from its elements (6, or 7 for the stop character) in any
// unit. Measurements e1..e4 are compared with the thresholds 1.5, 2.5, ...
// modules of the character's own width; their smallest margin is the
// character's decodability. The bar sum and the stop's last bar, bar widths
// and not edge-to-similar-edge measurements, are checked but not counted in it.
CharacterDecode decodeCharacter(const double* widths, int count);

struct ReferenceDecode {
    bool decoded = false;
    std::string failure;                 // why not, in Finnish; empty when decoded
    std::vector<int> values;             // start, data, check, stop
    std::vector<int> elementModules;     // every element's width in modules, when every
                                         // character's e-values name one (even if a later
                                         // check fails)
    std::string text;
    double decodability = 0.0;           // smallest over the characters
};

// Decodes the dark/light elements of a symbol (starting with a bar). The
// light elements around it are the quiet zones, given in the same unit.
ReferenceDecode referenceDecode(const std::vector<double>& elements, double leadingQuiet,
                                double trailingQuiet);

// Whether the elements begin with a start character or end with the stop
// character: what tells a damaged symbol from other runs of dark marks.
bool hasStartOrStop(const std::vector<double>& elements);

// 2 where the elements begin with a start and end with the stop character,
// 1 where only one of them stands in its place, 0 where neither does.
int characterEnds(const std::vector<double>& elements);

// The text the values carry (code sets A, B and C, shifts, FNC1 left out).
std::string code128Text(const std::vector<int>& values);

} // namespace raitakone::grading
