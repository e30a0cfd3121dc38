// Checks that a text holds some parts, naming the ones it lacks.
#pragma once

#include <initializer_list>
#include <string>

// The parts that text lacks, one a line: "" when it holds them all, so that
// EXPECT_EQ(missing(text, {...}), "") << text says what is not there.
inline std::string missing(const std::string &text, std::initializer_list<std::string> parts) {
    std::string lacking;
    for (const std::string &part : parts)
        if (text.find(part) == std::string::npos) lacking += part + "\n";
    return lacking;
}
