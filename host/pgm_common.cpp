#include "host/pgm_common.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

namespace {
int digit_value(char c, int base) {
    int value = base;  // not a digit unless one of the ranges below says so
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string with_slash(std::string dir) {
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

// The file this code was loaded from: the shared library, or the program it is linked into
// (for which dladdr would only repeat the program's argv[0]).
std::filesystem::path module_file() {
#ifdef GFPDB_STATIC_HOST
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
#else
    // Anything of this library: its address tells dladdr which file holds the library.
    static const char module_anchor = 0;
    Dl_info info{};
    if (!dladdr(&module_anchor, &info) || !info.dli_fname)
        return {};
    return std::filesystem::absolute(info.dli_fname);
#endif
}

// A build tree names the source tree's data/ in a file next to the library (or one folder up
// from a program linked with the static library); an installed library finds its data at a
// fixed place relative to its own folder, so the prefix can move.
std::string find_bundled_data_dir() {
    const std::filesystem::path folder = module_file().parent_path();
    for (const std::filesystem::path& marker :
         {folder / "gfpdb-data-dir", folder.parent_path() / "gfpdb-data-dir"}) {
        std::ifstream file(marker);
        std::string dir;
        if (std::getline(file, dir) && !dir.empty())
            return with_slash(dir);
    }
    return with_slash((folder / GFPDB_DATA_FROM_MODULE).lexically_normal().string());
}

const std::string& bundled_data_dir() {
    static const std::string dir = find_bundled_data_dir();
    return dir;
}

// The directory chosen by set_common_programmer; empty until then.
std::string& chosen_common_programmer() {
    static std::string dir;
    return dir;
}
}  // namespace

bool PGM_COMMON::compare_string(const std::string& a, const std::string& b, bool ignore_case) {
    if (a.size() != b.size())
        return false;
    if (!ignore_case)
        return a == b;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

uint64_t PGM_COMMON::convert_string_to_qword(const std::string& text, bool strict, bool* ok,
                                             const uint64_t* limit, bool allow_sign) {
    size_t i = 0;
    if (allow_sign && i < text.size() && text[i] == '+')
        ++i;
    // Only a lower-case "0x" is a prefix: "0X10" reads as the number 0 followed by text.
    const bool hex = text.compare(i, 2, "0x") == 0;
    const int base = hex ? 16 : 10;
    if (hex)
        i += 2;
    const size_t first_digit = i;
    uint64_t value = 0;
    bool overflow = false;
    for (int digit; i < text.size() && (digit = digit_value(text[i], base)) >= 0; ++i) {
        const auto d = static_cast<uint64_t>(digit);
        if (value > (std::numeric_limits<uint64_t>::max() - d) / static_cast<uint64_t>(base))
            overflow = true;
        else
            value = value * static_cast<uint64_t>(base) + d;
    }
    // A bare "0x" is a number: 0.
    const bool good = (hex || i > first_digit) && !overflow && (!strict || i == text.size()) &&
                      (!limit || value <= *limit);
    if (ok)
        *ok = good;
    return good ? value : 0;
}

uint32_t PGM_COMMON::convert_string_to_dword(const std::string& text, bool strict, bool* ok,
                                             const uint32_t* limit, bool allow_sign) {
    const uint64_t bound = limit ? *limit : std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(convert_string_to_qword(text, strict, ok, &bound, allow_sign));
}

unsigned char* PGM_COMMON::convert_hex_string_to_byte_array(const std::string& hex, int count,
                                                            uint32_t* byte_size, bool msb_first,
                                                            bool* ok) {
    std::string digits = hex.substr(0, count < 0 ? std::string::npos : static_cast<size_t>(count));
    bool good = !digits.empty();
    for (char c : digits)
        good = good && digit_value(c, 16) >= 0;
    if (byte_size)
        *byte_size = 0;
    if (ok)
        *ok = good;
    if (!good)
        return nullptr;
    if (digits.size() % 2)
        digits.insert(digits.begin(), '0');
    const size_t size = digits.size() / 2;
    auto* bytes = new unsigned char[size];
    for (size_t i = 0; i < size; ++i) {
        const size_t at = msb_first ? i : size - 1 - i;
        bytes[at] = static_cast<unsigned char>(digit_value(digits[2 * i], 16) * 16 +
                                               digit_value(digits[2 * i + 1], 16));
    }
    if (byte_size)
        *byte_size = static_cast<uint32_t>(size);
    return bytes;
}

std::string PGM_COMMON::change_folder_slash(const std::string& path) {
    std::string result;
    for (char c : path) {
        if (c == '\\')
            c = '/';
        if (c != '/' || result.empty() || result.back() != '/')
            result += c;
    }
    return result;
}

std::string PGM_COMMON::pgm_get_common_programmer() {
    if (!chosen_common_programmer().empty())
        return chosen_common_programmer();
    const char* env = std::getenv("GFPDB_HOST_DIR");
    if (env && *env)
        return with_slash(env);
    return bundled_data_dir();
}

void PGM_COMMON::set_common_programmer(const std::string& dir) {
    // An empty directory forgets the choice, so the environment and the bundled data apply again.
    chosen_common_programmer() = dir.empty() ? std::string() : with_slash(dir);
}
