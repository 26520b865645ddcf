// Benchmarks of the QSPI database over folders of 1,000 and 10,000 user device files: loading
// (against the floor that libxml2 alone sets for the same files), saving and deleting one
// device, the two queries that walk every device, and the memory a loaded database keeps.
//
// The headline figures are ratios measured in one run, so that a busy machine slows both
// sides alike; the summary after the benchmarks prints them from the medians.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlschemas.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "host/host.h"
#include "pgm/gfpdb/gfpdb_qspi_flash.h"
#include "pgm/gfpdb/gfpdb_qspi_mgr.h"

namespace {
namespace fs = std::filesystem;

constexpr uint64_t bench_seed = 20240611;
constexpr int64_t small_folder = 1000;
constexpr int64_t large_folder = 10000;
// Measured only when GFPDB_BENCH_LARGE is set: the folder alone is 1.1 GB and a few minutes.
constexpr int64_t huge_folder = 100000;

bool huge_run() {
    const char* large = std::getenv("GFPDB_BENCH_LARGE");
    return large && *large && std::string(large) != "0";
}
constexpr DEV_FAMILY_ENUM qspi_family = DEV_FAMILY_QSPI_DEFAULT;
constexpr PGMIO_CONFIG_SCHEME qspi_scheme = PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4;

// ---- Folders ------------------------------------------------------------------------------

// Every folder lives under one temporary root, removed when the program ends. Never
// destroyed itself, so that it is still there when the removal runs at exit.
const std::string& work_root() {
    static const std::string* root = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/gfpdb_bench.XXXXXX";
        if (!::mkdtemp(&pattern[0])) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        return new std::string(pattern + "/");
    }();
    return *root;
}

void remove_work_root() {
    std::error_code ec;
    fs::remove_all(work_root(), ec);
}

// A private copy of the bundled host folder, so that nothing another developer changes in
// data/ while the benchmark runs can move the figures.
const std::string& host_dir() {
    static const std::string dir = [] {
        const std::string copy = work_root() + "host/";
        fs::copy(GFPDB_SOURCE_DIR "/data", copy, fs::copy_options::recursive);
        return copy;
    }();
    return dir;
}

struct FILE_TO_LOAD {
    std::string path;
    bool golden;  // read without the schema, as the loader reads it
};

// The pgm_flash_*.xml files of a folder in byte order, as the loader walks them.
std::vector<std::string> database_files(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* entry = ::readdir(d)) {
            if (::fnmatch("pgm_flash_*.xml", entry->d_name, 0) == 0)
                names.push_back(entry->d_name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct FOLDER {
    int64_t devices = 0;
    std::string custom_dir;  // as FIO_PATH spells a folder, ending in "/"
    BENCH_FILES files;
    std::unique_ptr<GFPDB_QSPI_MGR> loaded;  // for the query and persistence benchmarks
};

std::map<int64_t, FOLDER>& folders() {
    static std::map<int64_t, FOLDER> made;
    return made;
}

FOLDER& folder(int64_t devices) {
    FOLDER& f = folders()[devices];
    if (f.devices == devices)
        return f;
    f.devices = devices;
    f.custom_dir = work_root() + "custom_" + std::to_string(devices) + "/";
    fs::create_directories(f.custom_dir);
    std::string error;
    if (!bench_write_user_files(f.custom_dir, static_cast<size_t>(devices), bench_seed, &f.files,
                                &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    return f;
}

// Everything one construction reads, in its order: the host folder's files (the golden file
// without the schema), then the custom folder's.
std::vector<FILE_TO_LOAD> files_to_load(const std::string& host, const std::string& custom) {
    std::vector<FILE_TO_LOAD> files;
    const std::string xml_dir = host + "xml/";
    for (const std::string& name : database_files(xml_dir))
        files.push_back({xml_dir + name, name == "pgm_flash_db_qspi.xml"});
    for (const std::string& name : database_files(custom))
        files.push_back({custom + name, false});
    return files;
}

uint64_t bytes_of(const std::vector<FILE_TO_LOAD>& files) {
    uint64_t bytes = 0;
    for (const FILE_TO_LOAD& file : files) {
        struct stat info {};
        if (::stat(file.path.c_str(), &info) == 0)
            bytes += static_cast<uint64_t>(info.st_size);
    }
    return bytes;
}

// Posted messages are counted, not shown: a clean folder loads without any.
size_t& posted_messages() {
    static size_t count = 0;
    return count;
}

void point_library_at(const FOLDER& f) {
    PGM_COMMON::set_common_programmer(host_dir());
    GFPDB_MGR::set_db_custom_dir(f.custom_dir);
    msg_set_post_listener([](unsigned, MSG_POST_TYPE, const std::string&) { ++posted_messages(); });
    msg_set_debug_listener([](const std::string&, int, const std::string&) {});
}

// The folder string that update_db and delete_db accept for the custom folder.
std::string custom_db_dir() {
    return FIO_PATH(GFPDB_MGR::get_db_custom_dir()).full_directory();
}

// Empty when every generated device and template was loaded.
std::string check_loaded(GFPDB_QSPI_MGR& mgr, const FOLDER& f) {
    for (const std::string& name : f.files.device_names) {
        if (!mgr.device_exist_in_db(name, true))
            return "device " + name + " was not loaded";
    }
    const std::vector<std::string> templates = mgr.get_user_template_list();
    if (templates.size() != f.files.template_names.size())
        return "not every user template was loaded";
    return std::string();
}

GFPDB_QSPI_MGR& loaded_manager(FOLDER& f) {
    point_library_at(f);
    if (!f.loaded)
        f.loaded = std::make_unique<GFPDB_QSPI_MGR>();
    return *f.loaded;
}

void release_loaded_databases();

void set_per_file_counter(benchmark::State& state, size_t files) {
    state.counters["per_file"] = benchmark::Counter(
        static_cast<double>(files),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// ---- Loading --------------------------------------------------------------------------------

void settle_allocator();

void release_loaded_databases() {
    for (auto& [devices, f] : folders())
        f.loaded.reset();
    settle_allocator();
}

// The allocator hands the memory of a destroyed database back lazily, at the next large
// request; ask for one here, so that the previous load's clean-up is not timed as this one.
void settle_allocator() {
    void* large = std::malloc(256 * 1024);
    benchmark::DoNotOptimize(large);
    std::free(large);
}

void BM_construct(benchmark::State& state) {
    FOLDER& f = folder(state.range(0));
    point_library_at(f);
    bool checked = false;
    for (auto _ : state) {
        posted_messages() = 0;
        auto mgr = std::make_unique<GFPDB_QSPI_MGR>();
        state.PauseTiming();
        const size_t posted = posted_messages();
        const std::string problem = checked ? std::string() : check_loaded(*mgr, f);
        checked = true;
        mgr.reset();
        settle_allocator();
        state.ResumeTiming();
        if (posted || !problem.empty()) {
            state.SkipWithError((problem.empty() ? "the loader posted messages" : problem).c_str());
            break;
        }
    }
    set_per_file_counter(state, f.files.files);
}

// The libxml2 floor: what any loader of these files must spend in the XML library. One
// schema compiled once, one parser and one validation context reused, each file parsed from
// memory, checked against the schema (all but the golden file) and every element visited once.
struct FLOOR {
    xmlSchemaPtr schema = nullptr;
    xmlSchemaValidCtxtPtr validator = nullptr;
    xmlParserCtxtPtr parser = nullptr;
    std::string text;  // the file being read, its buffer kept from file to file
};

void ignore_structured_error(void*, xmlErrorPtr) {}

// The whole file in one read.
bool read_whole_file(const std::string& path, std::string* text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && info.st_size < INT32_MAX;
    if (ok) {
        text->resize(static_cast<size_t>(info.st_size));
        ok = ::read(fd, &(*text)[0], text->size()) == static_cast<ssize_t>(text->size());
    }
    ::close(fd);
    return ok;
}

// Made once per process and host folder; outside every timing, as the loader's schema is.
FLOOR& floor_tools(const std::string& host) {
    static std::map<std::string, FLOOR> made;
    auto it = made.find(host);
    if (it != made.end())
        return it->second;
    FLOOR& t = made[host];
    xmlInitParser();
    xmlSetStructuredErrorFunc(nullptr, ignore_structured_error);
    const std::string xsd = host + "xsd/gfpdb_qspi.xsd";
    t.parser = xmlNewParserCtxt();
    // Read from memory: the library turns libxml2's own file loading off for the process.
    xmlDocPtr schema_doc =
        t.parser && read_whole_file(xsd, &t.text)
            ? xmlCtxtReadMemory(t.parser, t.text.data(), static_cast<int>(t.text.size()),
                                xsd.c_str(), nullptr, XML_PARSE_NONET)
            : nullptr;
    xmlSchemaParserCtxtPtr schema_parser =
        schema_doc ? xmlSchemaNewDocParserCtxt(schema_doc) : nullptr;
    t.schema = schema_parser ? xmlSchemaParse(schema_parser) : nullptr;
    xmlSchemaFreeParserCtxt(schema_parser);
    t.validator = t.schema ? xmlSchemaNewValidCtxt(t.schema) : nullptr;
    if (!t.validator || !t.parser) {
        std::fprintf(stderr, "cannot set up libxml2 for %s\n", xsd.c_str());
        std::exit(1);
    }
    return t;
}

// Each element's name and text are touched once, as a tree builder must.
size_t visit(const xmlNode* node) {
    size_t seen = 0;
    for (; node; node = node->next) {
        if (node->type == XML_ELEMENT_NODE) {
            seen += 1 + (node->name[0] & 1u);
            for (const xmlAttr* attribute = node->properties; attribute;
                 attribute = attribute->next)
                seen += attribute->children && attribute->children->content ? 1 : 0;
            seen += visit(node->children);
        } else if (node->type == XML_TEXT_NODE && node->content) {
            seen += node->content[0] & 1u;
        }
    }
    return seen;
}

// One pass of the floor over the folders as the loader would read them; the number of files
// that were read and passed their schema.
size_t floor_pass(const std::string& host, const std::string& custom, FLOOR& tools) {
    const std::vector<FILE_TO_LOAD> files = files_to_load(host, custom);
    size_t seen = 0;
    size_t valid_files = 0;
    for (const FILE_TO_LOAD& file : files) {
        xmlDocPtr doc = read_whole_file(file.path, &tools.text)
                            ? xmlCtxtReadMemory(tools.parser, tools.text.data(),
                                                static_cast<int>(tools.text.size()),
                                                file.path.c_str(), nullptr, XML_PARSE_NONET)
                            : nullptr;
        if (!doc)
            continue;
        if (file.golden || xmlSchemaValidateDoc(tools.validator, doc) == 0) {
            seen += visit(xmlDocGetRootElement(doc));
            ++valid_files;
        }
        xmlFreeDoc(doc);
    }
    benchmark::DoNotOptimize(seen);
    return valid_files;
}

void BM_libxml2_floor(benchmark::State& state) {
    FOLDER& f = folder(state.range(0));
    FLOOR& tools = floor_tools(host_dir());
    size_t valid_files = 0;
    for (auto _ : state)
        valid_files = floor_pass(host_dir(), f.custom_dir, tools);
    // The golden file and the user files pass; the SD/MMC file beside the golden one does not.
    if (valid_files != f.files.files + 1)
        state.SkipWithError("the floor did not read every user file as valid");
    set_per_file_counter(state, f.files.files);
}

// ---- Saving and deleting --------------------------------------------------------------------

// The device every persistence benchmark saves or deletes: one from the middle of the folder.
const std::string& middle_device(const FOLDER& f) {
    return f.files.device_names[f.files.device_names.size() / 2];
}

GFPDB_QSPI_FLASH* copy_of(GFPDB_QSPI_MGR& mgr, const std::string& name) {
    auto* stored = static_cast<GFPDB_QSPI_FLASH*>(mgr.get_flash(name, true));
    return stored ? new GFPDB_QSPI_FLASH(*stored) : nullptr;
}

void BM_update_db(benchmark::State& state) {
    FOLDER& f = folder(state.range(0));
    GFPDB_QSPI_MGR& mgr = loaded_manager(f);
    const std::string name = middle_device(f);
    const std::string dir = custom_db_dir();
    for (auto _ : state) {
        state.PauseTiming();
        // An edited record, as the device editor hands it over: a copy of the stored one.
        GFPDB_QSPI_FLASH* edited = copy_of(mgr, name);
        state.ResumeTiming();
        if (!edited || !mgr.update_db(edited, dir)) {
            state.SkipWithError("update_db failed");
            break;
        }
    }
}

void BM_delete_db(benchmark::State& state) {
    FOLDER& f = folder(state.range(0));
    GFPDB_QSPI_MGR& mgr = loaded_manager(f);
    const std::string name = middle_device(f);
    const std::string dir = custom_db_dir();
    std::unique_ptr<GFPDB_QSPI_FLASH> saved(copy_of(mgr, name));
    if (!saved) {
        state.SkipWithError("the device to delete is not loaded");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        // Each round deletes the device saved just before, in a folder of N devices.
        const bool restored = mgr.update_db(new GFPDB_QSPI_FLASH(*saved), dir);
        state.ResumeTiming();
        if (!restored || !mgr.delete_db(name, dir)) {
            state.SkipWithError("delete_db failed");
            break;
        }
    }
    // Later benchmarks load the whole folder again.
    mgr.update_db(new GFPDB_QSPI_FLASH(*saved), dir);
}

// What the persistence benchmarks are measured against: the file operations of one save, on
// a file of the same size, without the library: the old file checked, made writable and
// removed, then a temporary file written, flushed and renamed into place.
void BM_file_operations(benchmark::State& state) {
    FOLDER& f = folder(small_folder);
    std::string name;
    const std::string text = bench_device_file_text(0, bench_seed, &name);
    const std::string dir = work_root() + "file_operations/";
    fs::create_directories(dir);
    const std::string file = dir + "pgm_flash_" + name + ".xml";
    for (auto _ : state) {
        struct stat info {};
        ::stat(file.c_str(), &info);
        ::chmod(file.c_str(), 0600);
        ::unlink(file.c_str());
        std::string temp = dir + ".pgm_flash.XXXXXX";
        const int fd = ::mkstemp(&temp[0]);
        bool ok =
            fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ok = fd >= 0 && ::fsync(fd) == 0 && ::close(fd) == 0 && ok;
        ok = ok && std::rename(temp.c_str(), file.c_str()) == 0;
        ok = ok && ::stat(file.c_str(), &info) == 0;
        if (!ok) {
            state.SkipWithError("file operations failed");
            break;
        }
    }
    benchmark::DoNotOptimize(f.devices);
}

// ---- Queries --------------------------------------------------------------------------------

void BM_get_flash_with_id(benchmark::State& state) {
    FOLDER& f = folder(state.range(0));
    GFPDB_QSPI_MGR& mgr = loaded_manager(f);
    // IDs hold three bytes, so a fourth byte matches no device: every device is looked at.
    const uint32_t missing = 0xFF000000u;
    for (auto _ : state) {
        GFPDB_FLASH* found = mgr.get_flash_with_id(missing, 0xFFFFFFFFu);
        benchmark::DoNotOptimize(found);
    }
    state.counters["per_device"] = benchmark::Counter(
        static_cast<double>(f.devices),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_get_new_config_device_list(benchmark::State& state) {
    FOLDER& f = folder(state.range(0));
    GFPDB_QSPI_MGR& mgr = loaded_manager(f);
    size_t listed = 0;
    for (auto _ : state) {
        const std::vector<std::string> names =
            mgr.get_new_config_device_list(qspi_family, qspi_scheme, false);
        listed = names.size();
        benchmark::DoNotOptimize(names.data());
    }
    state.counters["listed"] = static_cast<double>(listed);
    state.counters["per_device"] = benchmark::Counter(
        static_cast<double>(f.devices),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_construct)->Arg(small_folder)->Arg(large_folder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_libxml2_floor)->Arg(small_folder)->Arg(large_folder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_update_db)
    ->Arg(small_folder)
    ->Arg(large_folder)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(BM_delete_db)
    ->Arg(small_folder)
    ->Arg(large_folder)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(BM_file_operations)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_get_flash_with_id)
    ->Arg(small_folder)
    ->Arg(large_folder)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_get_new_config_device_list)
    ->Arg(small_folder)
    ->Arg(large_folder)
    ->Unit(benchmark::kMicrosecond);

// ---- First loads, memory and reads, in fresh processes ---------------------------------------

// Numbers of /proc/self/status ("VmRSS", "VmHWM", in kB) and /proc/self/io ("rchar", "syscr").
uint64_t proc_value(const char* file, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size() + 1, key + ":") == 0)
            return std::strtoull(line.c_str() + key.size() + 1, nullptr, 10);
    }
    return 0;
}

double cpu_seconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double wall_seconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

// libxml2's parse and schema-compile entry points, as the loader reaches them through the
// dynamic linker: defined here, they count every call before passing it on, so that a probe
// can tell how often files are parsed and schemas compiled.
namespace {
uint64_t parse_calls = 0;
uint64_t schema_compiles = 0;

template <typename FUNCTION>
FUNCTION next_definition(const char* name) {
    void* found = ::dlsym(RTLD_NEXT, name);
    if (!found) {
        std::fprintf(stderr, "libxml2 has no %s\n", name);
        std::abort();
    }
    return reinterpret_cast<FUNCTION>(found);
}
}  // namespace

extern "C" xmlDocPtr xmlCtxtReadMemory(xmlParserCtxtPtr parser, const char* buffer, int size,
                                       const char* url, const char* encoding, int options) {
    static const auto next = next_definition<xmlDocPtr (*)(
        xmlParserCtxtPtr, const char*, int, const char*, const char*, int)>("xmlCtxtReadMemory");
    ++parse_calls;
    return next(parser, buffer, size, url, encoding, options);
}

extern "C" xmlSchemaPtr xmlSchemaParse(xmlSchemaParserCtxtPtr parser) {
    static const auto next =
        next_definition<xmlSchemaPtr (*)(xmlSchemaParserCtxtPtr)>("xmlSchemaParse");
    ++schema_compiles;
    return next(parser);
}

namespace {
// What a fresh process tells: the time of its one load (or floor pass), and for a load the
// memory and reads it cost and the documents libxml2 built.
struct PROBE {
    double cpu = 0, wall = 0;                         // seconds
    uint64_t peak_kb = 0;                             // resident growth at its highest
    uint64_t retained_kb = 0;                         // resident growth that stays
    uint64_t bytes_read = 0;                          // by read() calls
    uint64_t reads = 0;                               // read() calls
    uint64_t parses = 0;                              // files parsed, the schema among them
    uint64_t compiles = 0;                            // schemas compiled
    uint64_t second_parses = 0, second_compiles = 0;  // by a second load in the same process
};

void print_probe(const PROBE& p) {
    std::printf("%.9f %.9f %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64
                " %" PRIu64 " %" PRIu64 "\n",
                p.cpu, p.wall, p.peak_kb, p.retained_kb, p.bytes_read, p.reads, p.parses,
                p.compiles, p.second_parses, p.second_compiles);
}

// The first load of a program: the database loaded once into a fresh heap.
// With `second`, the database is loaded again in the same process, to count what that load
// parses and compiles.
int loader_probe(const std::string& host, const std::string& custom, bool second) {
    PGM_COMMON::set_common_programmer(host);
    GFPDB_MGR::set_db_custom_dir(custom);
    msg_set_post_listener([](unsigned, MSG_POST_TYPE, const std::string&) {});
    msg_set_debug_listener([](const std::string&, int, const std::string&) {});
    PROBE p;
    const uint64_t rss_before = proc_value("/proc/self/status", "VmRSS");
    const uint64_t read_before = proc_value("/proc/self/io", "rchar");
    const uint64_t calls_before = proc_value("/proc/self/io", "syscr");
    const double cpu_before = cpu_seconds();
    const double wall_before = wall_seconds();
    auto mgr = std::make_unique<GFPDB_QSPI_MGR>();
    p.cpu = cpu_seconds() - cpu_before;
    p.wall = wall_seconds() - wall_before;
    p.bytes_read = proc_value("/proc/self/io", "rchar") - read_before;
    p.reads = proc_value("/proc/self/io", "syscr") - calls_before;
    p.peak_kb = proc_value("/proc/self/status", "VmHWM") - rss_before;
    p.retained_kb = proc_value("/proc/self/status", "VmRSS") - rss_before;
    p.parses = parse_calls;
    p.compiles = schema_compiles;
    if (second) {
        mgr.reset();
        parse_calls = schema_compiles = 0;
        mgr = std::make_unique<GFPDB_QSPI_MGR>();
        p.second_parses = parse_calls;
        p.second_compiles = schema_compiles;
    }
    print_probe(p);
    return 0;
}

// The floor's pass in a fresh process, its set-up (the schema) untimed as in the benchmark.
int floor_probe(const std::string& host, const std::string& custom) {
    FLOOR& tools = floor_tools(host);
    PROBE p;
    const double cpu_before = cpu_seconds();
    const double wall_before = wall_seconds();
    floor_pass(host, custom, tools);
    p.cpu = cpu_seconds() - cpu_before;
    p.wall = wall_seconds() - wall_before;
    print_probe(p);
    return 0;
}

bool run_probe(const char* kind, const FOLDER& f, PROBE* p) {
    char exe[4096];
    const ssize_t size = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (size <= 0)
        return false;
    exe[size] = '\0';
    const std::string command =
        "'" + std::string(exe) + "' " + kind + " '" + host_dir() + "' '" + f.custom_dir + "'";
    FILE* out = ::popen(command.c_str(), "r");
    if (!out)
        return false;
    const int fields =
        std::fscanf(out,
                    "%lf %lf %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64
                    " %" SCNu64 " %" SCNu64,
                    &p->cpu, &p->wall, &p->peak_kb, &p->retained_kb, &p->bytes_read, &p->reads,
                    &p->parses, &p->compiles, &p->second_parses, &p->second_compiles);
    return ::pclose(out) == 0 && fields == 10;
}

double median_of(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// ---- Summary ----------------------------------------------------------------------------------

// Keeps every repetition's times per iteration, by benchmark and argument, for the summary;
// of a repeated benchmark it shows only the median, as the summary uses it.
class SUMMARY_REPORTER : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
                TIMES& times = m_times[run.run_name.function_name + "/" + run.run_name.args];
                const auto iterations = static_cast<double>(run.iterations);
                times.cpu.push_back(run.cpu_accumulated_time / iterations);
                times.wall.push_back(run.real_accumulated_time / iterations);
            }
            const bool repeated = run.repetitions > 1;
            if (!repeated || run.error_occurred ||
                (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median"))
                shown.push_back(run);
        }
        if (!shown.empty())
            ConsoleReporter::ReportRuns(shown);
    }
    // Median seconds per iteration; 0 when the benchmark did not run.
    double cpu(const std::string& function, int64_t arg = -1) const {
        const TIMES* t = find(function, arg);
        return t ? median_of(t->cpu) : 0;
    }
    double wall(const std::string& function, int64_t arg = -1) const {
        const TIMES* t = find(function, arg);
        return t ? median_of(t->wall) : 0;
    }
    size_t repetitions(const std::string& function, int64_t arg) const {
        const TIMES* t = find(function, arg);
        return t ? t->cpu.size() : 0;
    }

private:
    struct TIMES {
        std::vector<double> cpu, wall;
    };
    const TIMES* find(const std::string& function, int64_t arg) const {
        auto it = m_times.find(function + "/" + (arg < 0 ? "" : std::to_string(arg)));
        return it == m_times.end() || it->second.cpu.empty() ? nullptr : &it->second;
    }
    std::map<std::string, TIMES> m_times;
};

// Loader and floor passes run as pairs, one right after the other (the order alternating), so
// that a busy spell of the machine falls on both sides of a pair; seconds per user file.
struct PAIRS {
    std::vector<double> loader_cpu, loader_wall, floor_cpu, floor_wall;
    std::vector<double> ratio_cpu, ratio_wall;  // loader / floor of each pair
    void add(const PROBE& loader, const PROBE& floor, double files) {
        loader_cpu.push_back(loader.cpu / files);
        loader_wall.push_back(loader.wall / files);
        floor_cpu.push_back(floor.cpu / files);
        floor_wall.push_back(floor.wall / files);
        ratio_cpu.push_back(loader.cpu / floor.cpu);
        ratio_wall.push_back(loader.wall / floor.wall);
    }
};

// How many pairs of each kind a folder size gets.
int reload_pairs(int64_t devices) {
    return devices > small_folder ? 5 : 9;
}
// Fresh processes take the machine's wandering speed pair by pair: nine of them give a median
// that one slow minute does not move.
constexpr int first_load_pairs = 9;

// Reloads in this process, each into the heap the one before freed, against floor passes.
PAIRS measure_reloads(FOLDER& f) {
    point_library_at(f);
    FLOOR& tools = floor_tools(host_dir());
    auto load = [] {
        PROBE p;
        const double cpu = cpu_seconds(), wall = wall_seconds();
        auto mgr = std::make_unique<GFPDB_QSPI_MGR>();
        p.cpu = cpu_seconds() - cpu;
        p.wall = wall_seconds() - wall;
        mgr.reset();
        settle_allocator();
        return p;
    };
    auto pass = [&] {
        PROBE p;
        const double cpu = cpu_seconds(), wall = wall_seconds();
        floor_pass(host_dir(), f.custom_dir, tools);
        p.cpu = cpu_seconds() - cpu;
        p.wall = wall_seconds() - wall;
        return p;
    };
    load();  // the schema compiled, the heap grown: what a reload finds in place
    PAIRS pairs;
    for (int i = 0; i < reload_pairs(f.devices); ++i) {
        PROBE loader, floor;
        if (i % 2) {
            floor = pass();
            loader = load();
        } else {
            loader = load();
            floor = pass();
        }
        pairs.add(loader, floor, static_cast<double>(f.files.files));
    }
    return pairs;
}

// The loading figures of one folder size.
struct LOADING {
    PAIRS reloads, first_loads;
    PROBE memory;  // of a first load
    bool probed = false;
};

LOADING measure_loading(int64_t n) {
    LOADING l;
    FOLDER& f = folder(n);
    l.reloads = measure_reloads(f);
    for (int i = 0; i < first_load_pairs; ++i) {
        PROBE load, pass;
        const char* loader_kind = i == 0 ? "--probe-loader-twice" : "--probe-loader";
        const bool ok =
            i % 2 ? run_probe("--probe-floor", f, &pass) && run_probe(loader_kind, f, &load)
                  : run_probe(loader_kind, f, &load) && run_probe("--probe-floor", f, &pass);
        if (!ok)
            continue;
        if (!l.probed)
            l.memory = load;
        l.probed = true;
        l.first_loads.add(load, pass, static_cast<double>(f.files.files));
    }
    return l;
}

void print_pairs(const char* devices, const char* kind, const PAIRS& p) {
    std::vector<double> ratios = p.ratio_cpu;
    std::sort(ratios.begin(), ratios.end());
    std::printf("%-7s %-11s %7.1fus [%7.1fus]   %7.1fus [%7.1fus]   %5.2fx [%5.2fx]   %.2f-%.2f\n",
                devices, kind, median_of(p.loader_cpu) * 1e6, median_of(p.loader_wall) * 1e6,
                median_of(p.floor_cpu) * 1e6, median_of(p.floor_wall) * 1e6, median_of(p.ratio_cpu),
                median_of(p.ratio_wall), ratios.front(), ratios.back());
}

using LOADINGS = std::vector<std::pair<int64_t, LOADING>>;

LOADINGS print_loading(const SUMMARY_REPORTER& r) {
    // The other benchmarks' databases would slow every allocation of the loads to come.
    release_loaded_databases();
    LOADINGS sizes;
    for (int64_t n : {small_folder, large_folder}) {
        if (r.cpu("BM_construct", n) > 0 && r.cpu("BM_libxml2_floor", n) > 0)
            sizes.emplace_back(n, measure_loading(n));
    }
    std::printf(
        "\nLoading, per user file: cpu time, wall time in brackets. The ratio is the median "
        "of pairs run\nback to back, loader / floor; the range is that of the pairs' cpu "
        "ratios.\n\n");
    std::printf("%-7s %-11s %-22s %-22s %-15s   %s\n", "devices", "", "loader", "libxml2 floor",
                "ratio", "range");
    for (const auto& [n, l] : sizes) {
        const std::string devices = std::to_string(n);
        print_pairs(devices.c_str(), "reload", l.reloads);
        if (l.probed)
            print_pairs("", "first load", l.first_loads);
    }
    std::printf(
        "\nreload: %d pairs (%d for 10,000) in this process, each load into the heap that "
        "the one before freed;\nfirst load: %d pairs of fresh processes, the database "
        "loaded into a new heap.\n",
        reload_pairs(small_folder), reload_pairs(large_folder), first_load_pairs);

    std::printf("\nMemory and reads of a first load\n\n");
    std::printf("%-7s %12s %12s %10s %10s %10s %12s %12s %10s\n", "devices", "peak/device",
                "kept/device", "peak/XML", "kept/XML", "read/XML", "read()/file", "parses/file",
                "compiles");
    for (const auto& [n, l] : sizes) {
        if (!l.probed)
            continue;
        const std::vector<FILE_TO_LOAD> files = files_to_load(host_dir(), folder(n).custom_dir);
        const double xml_bytes = static_cast<double>(bytes_of(files));
        const double devices = static_cast<double>(n);
        // The loader also reads and parses the schema, once.
        const double loaded = static_cast<double>(files.size() + 1);
        std::printf("%-7" PRId64 " %9.1f KB %9.1f KB %9.2fx %9.2fx %9.2fx %12.2f %12.2f %10" PRIu64
                    "\n",
                    n, static_cast<double>(l.memory.peak_kb) / devices,
                    static_cast<double>(l.memory.retained_kb) / devices,
                    static_cast<double>(l.memory.peak_kb) * 1024.0 / xml_bytes,
                    static_cast<double>(l.memory.retained_kb) * 1024.0 / xml_bytes,
                    static_cast<double>(l.memory.bytes_read) / xml_bytes,
                    static_cast<double>(l.memory.reads) / loaded,
                    static_cast<double>(l.memory.parses) / loaded, l.memory.compiles);
        std::printf("%-7s a second load in the same process: %" PRIu64
                    " parses of %zu files, %" PRIu64 " schemas compiled\n",
                    "", l.memory.second_parses, files.size(), l.memory.second_compiles);
    }
    return sizes;
}

// 100,000 devices against 10,000: first loads of the two sizes run as pairs in fresh
// processes, so that the ratio of their costs per file is taken from moments alike.
struct HUGE_LOADING {
    std::vector<double> per_file_ratio;  // cpu per file at 100,000 / at 10,000, each pair
    PROBE memory;                        // of a first load of 100,000
    bool probed = false;
};
constexpr int huge_pairs = 3;

HUGE_LOADING measure_huge_loading() {
    HUGE_LOADING h;
    FOLDER& large = folder(large_folder);
    FOLDER& huge = folder(huge_folder);
    for (int i = 0; i < huge_pairs; ++i) {
        PROBE at_large, at_huge;
        const bool ok = i % 2 ? run_probe("--probe-loader", huge, &at_huge) &&
                                    run_probe("--probe-loader", large, &at_large)
                              : run_probe("--probe-loader", large, &at_large) &&
                                    run_probe("--probe-loader", huge, &at_huge);
        if (!ok || at_large.cpu <= 0)
            continue;
        if (!h.probed)
            h.memory = at_huge;
        h.probed = true;
        h.per_file_ratio.push_back((at_huge.cpu / static_cast<double>(huge.files.files)) /
                                   (at_large.cpu / static_cast<double>(large.files.files)));
    }
    return h;
}

// The ratio's median and range, "1.05x (1.01-1.09)"; "not run" without values.
std::string ratio_text(std::vector<double> ratios) {
    if (ratios.empty())
        return "not run";
    std::sort(ratios.begin(), ratios.end());
    char text[64];
    std::snprintf(text, sizeof text, "%.2fx (%.2f-%.2f)", median_of(ratios), ratios.front(),
                  ratios.back());
    return text;
}

void print_target(const char* figure, const std::string& value, const char* target, bool met,
                  bool measured) {
    std::printf("%-40s %-22s %-10s %s\n", figure, value.c_str(), target,
                !measured ? ""
                : met     ? "met"
                          : "NOT MET");
}

// The headline figures against their targets, each a ratio of one run.
void print_targets(const SUMMARY_REPORTER& r, const LOADINGS& sizes, const HUGE_LOADING& huge) {
    std::printf("\nTargets: median of the pairs (range of the pairs)\n\n");
    for (const auto& [n, l] : sizes) {
        if (n != large_folder)
            continue;
        const double first = median_of(l.first_loads.ratio_cpu);
        const double reload = median_of(l.reloads.ratio_cpu);
        print_target("first load of 10,000 / libxml2 floor", ratio_text(l.first_loads.ratio_cpu),
                     "<= 1.20x", first <= 1.2, l.probed);
        print_target("reload of 10,000 / libxml2 floor", ratio_text(l.reloads.ratio_cpu),
                     "<= 1.10x", reload <= 1.1, !l.reloads.ratio_cpu.empty());
        if (!l.probed)
            continue;
        const std::vector<FILE_TO_LOAD> files = files_to_load(host_dir(), folder(n).custom_dir);
        const double xml_kb = static_cast<double>(bytes_of(files)) / 1024.0;
        const double kept = static_cast<double>(l.memory.retained_kb) / xml_kb;
        const double peak = static_cast<double>(l.memory.peak_kb) / xml_kb;
        char text[64];
        std::snprintf(text, sizeof text, "%.2fx", kept);
        print_target("memory kept by 10,000 / their XML", text, "<= 1.00x", kept <= 1.0, true);
        std::snprintf(text, sizeof text, "%.2fx", peak);
        print_target("peak during the load / their XML", text, "<= 1.50x", peak <= 1.5, true);
    }
    if (!huge_run()) {
        std::printf("%-40s %s\n", "100,000 devices", "not run (set GFPDB_BENCH_LARGE=1)");
        return;
    }
    const double per_file = median_of(huge.per_file_ratio);
    print_target("100,000: cost per file / at 10,000", ratio_text(huge.per_file_ratio), "<= 1.10x",
                 per_file <= 1.1, huge.probed);
    if (huge.probed) {
        const double peak_gb = static_cast<double>(huge.memory.peak_kb) / (1024.0 * 1024.0);
        char text[64];
        std::snprintf(text, sizeof text, "%.2f GB", peak_gb);
        print_target("100,000: peak during the load", text, "< 2 GB", peak_gb < 2.0, true);
    }
    for (const char* function : {"BM_update_db", "BM_delete_db"}) {
        const double small = r.wall(function, small_folder);
        const double at_huge = r.wall(function, huge_folder);
        const std::string figure = std::string(function + 3) + " at 100,000 / at 1,000";
        char text[64];
        std::snprintf(text, sizeof text, "%.2fx", small > 0 ? at_huge / small : 0.0);
        print_target(figure.c_str(), small > 0 && at_huge > 0 ? text : "not run", "<= 2.00x",
                     at_huge <= 2 * small, small > 0 && at_huge > 0);
    }
}

void print_persistence(const SUMMARY_REPORTER& r) {
    const double file_ops = r.wall("BM_file_operations");
    std::printf("\nOne device saved or deleted in a folder (wall time)\n\n");
    std::printf("%-22s %12s %12s %14s %14s\n", "", "1,000 files", "10,000 files", "10,000/1,000",
                "vs file ops");
    for (const char* function : {"BM_update_db", "BM_delete_db"}) {
        const double small = r.wall(function, small_folder);
        const double large = r.wall(function, large_folder);
        if (small <= 0 || large <= 0)
            continue;
        std::printf("%-22s %10.0fus %10.0fus %13.2fx", function + 3, small * 1e6, large * 1e6,
                    large / small);
        if (file_ops > 0)
            std::printf(" %13.2fx", large / file_ops);
        std::printf("\n");
    }
    if (file_ops > 0)
        std::printf("%-22s %10.0fus\n", "file_operations", file_ops * 1e6);

    std::printf("\n%-30s %12s %12s\n", "query, per device (cpu time)", "1,000", "10,000");
    for (const char* function : {"BM_get_flash_with_id", "BM_get_new_config_device_list"}) {
        const double small = r.cpu(function, small_folder);
        const double large = r.cpu(function, large_folder);
        if (small <= 0 || large <= 0)
            continue;
        std::printf("%-30s %10.1fns %10.1fns\n", function + 3, small / small_folder * 1e9,
                    large / large_folder * 1e9);
    }
}

bool ran_loading(const SUMMARY_REPORTER& r) {
    return r.cpu("BM_construct", small_folder) > 0 || r.cpu("BM_construct", large_folder) > 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--probe-loader")
        return loader_probe(argv[2], argv[3], false);
    if (argc == 4 && std::string(argv[1]) == "--probe-loader-twice")
        return loader_probe(argv[2], argv[3], true);
    if (argc == 4 && std::string(argv[1]) == "--probe-floor")
        return floor_probe(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::atexit(remove_work_root);
    if (huge_run()) {
        for (auto* function : {BM_update_db, BM_delete_db}) {
            benchmark::RegisterBenchmark(function == BM_update_db ? "BM_update_db" : "BM_delete_db",
                                         function)
                ->Arg(huge_folder)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime();
        }
    }
    SUMMARY_REPORTER reporter;
    const std::string filter = benchmark::GetBenchmarkFilter();
    if (filter.empty() || filter == "." || filter == "all") {
        // Loading first, while the heap holds no database: the later benchmarks keep a loaded
        // database of each size, which would slow every allocation of the loads and the floor.
        benchmark::RunSpecifiedBenchmarks(&reporter, "^BM_(construct|libxml2_floor)/");
        benchmark::RunSpecifiedBenchmarks(&reporter,
                                          "^BM_(update_db|delete_db|file_operations|get_)");
    } else {
        benchmark::RunSpecifiedBenchmarks(&reporter);
    }
    LOADINGS sizes;
    if (ran_loading(reporter))
        sizes = print_loading(reporter);
    print_persistence(reporter);
    HUGE_LOADING huge;
    if (huge_run() && ran_loading(reporter)) {
        release_loaded_databases();
        huge = measure_huge_loading();
    }
    print_targets(reporter, sizes, huge);
    benchmark::Shutdown();
    return 0;
}
