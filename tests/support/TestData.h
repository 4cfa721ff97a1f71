// Helpers shared by the tests: where the test data lives, reading whole files, 16-bit PCM, and a
// seeded random source that prints its seed when a test fails.
#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace velmar::test {

// Root of tests/data, compiled in by the build.
std::filesystem::path DataDir();

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
std::vector<std::int16_t> ReadPcm16(const std::filesystem::path& path); // headerless, little-endian
void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Every number of the JSON array that follows "key": in one line of a .jsonl file, in order;
// nested arrays are flattened.
std::vector<double> JsonNumbers(const std::string& line, const std::string& key);
std::vector<std::string> ReadLines(const std::filesystem::path& path);

// The names of everything in `folder`, sorted: a test proves with it that nothing was left behind.
std::vector<std::string> Listing(const std::filesystem::path& folder);

// A fresh, empty folder under the system's temporary folder, removed with the object.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::filesystem::path& Path() const { return path; }

private:
    std::filesystem::path path;
};

// Tests use a fixed seed; it goes into the failure message through SCOPED_TRACE.
inline constexpr std::uint32_t kDefaultSeed = 20261208;
using Rng = std::mt19937;

} // namespace velmar::test
