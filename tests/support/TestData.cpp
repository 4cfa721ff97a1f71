#include "support/TestData.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velmar::test {

std::filesystem::path DataDir() {
    return VELMAR_TEST_DATA_DIR;
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open test file " + path.string());
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::int16_t> ReadPcm16(const std::filesystem::path& path) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return samples;
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write test file " + path.string());
    }
}

std::vector<double> JsonNumbers(const std::string& line, const std::string& key) {
    const std::size_t keyAt = line.find("\"" + key + "\":");
    if (keyAt == std::string::npos) {
        throw std::runtime_error("no key " + key + " in " + line.substr(0, 60));
    }
    std::size_t at = line.find('[', keyAt);
    std::vector<double> numbers;
    int depth = 0;
    while (at < line.size()) {
        const char c = line[at];
        if (c == '[') {
            ++depth;
            ++at;
        } else if (c == ']') {
            if (--depth == 0) {
                break;
            }
            ++at;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            char* end = nullptr;
            numbers.push_back(std::strtod(line.c_str() + at, &end));
            at = static_cast<std::size_t>(end - line.c_str());
        } else {
            ++at;
        }
    }
    return numbers;
}

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot open test file " + path.string());
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

CTempDir::CTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmar-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path = pattern;
}

std::vector<std::string> Listing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

CTempDir::~CTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

} // namespace velmar::test
