#pragma once

// strtol and strtof also give 0 for a text without a number in front: a zero
// counts only when the whole text converted (end at its NUL), any other value
// whatever follows it.
template <typename Number>
bool ZeroWithTrailingText(Number value, const char* end) {
    return value == 0 && *end != '\0';
}
