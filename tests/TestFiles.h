#pragma once

// Whole files as text, for the suites that write a file and read back what became of it.

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

// The bytes of the file at path; empty when it cannot be read.
inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteText(const std::string& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}
