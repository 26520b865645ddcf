#include "pgm/gfpdb/gfpdb_record_pool.h"

#include <sys/mman.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#include "host/sanitizer.h"

namespace {

constexpr size_t step = 16;
constexpr size_t classes = 64;  // blocks of 16 to 1,024 bytes
constexpr size_t largest = step * classes;
constexpr size_t huge_page = size_t(2) << 20;
constexpr size_t region_size = 4 * huge_page;

// Sanitizers see every record come and go through the heap.
constexpr bool use_regions = !HOST_ADDRESS_SANITIZER;

struct POOL {
    std::mutex lock;
    std::array<void*, classes + 1> free_list{};  // by size class; a freed block holds the next
    char* next = nullptr;                        // the untouched rest of the newest region
    size_t left = 0;
    std::vector<char*> regions;
    size_t out = 0;
};

// Never destroyed: records may be freed while the program's statics are torn down.
POOL& pool() {
    static POOL* made = new POOL;
    return *made;
}

// A region aligned to a huge page, which the kernel is asked to back with huge pages: a load
// of 10,000 devices then takes some fifty page faults for its actions instead of some fifteen
// thousand.
char* map_region() {
    const size_t mapped = region_size + huge_page;
    void* raw = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    char* begin = static_cast<char*>(raw);
    char* aligned = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(begin) + huge_page - 1) &
                                            ~uintptr_t(huge_page - 1));
    if (aligned > begin)
        ::munmap(begin, static_cast<size_t>(aligned - begin));
    if (char* end = aligned + region_size; end < begin + mapped)
        ::munmap(end, static_cast<size_t>(begin + mapped - end));
    ::madvise(aligned, region_size, MADV_HUGEPAGE);  // a hint; without it pages are small
    return aligned;
}

size_t class_of(size_t size) {
    return (size + step - 1) / step;
}

}  // namespace

void* GFPDB_RECORD_POOL::allocate(size_t size) {
    if (!use_regions || size == 0 || size > largest)
        return ::operator new(size);
    const size_t kind = class_of(size);
    POOL& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    void* block = p.free_list[kind];
    if (block) {
        p.free_list[kind] = *static_cast<void**>(block);
    } else {
        const size_t bytes = kind * step;
        if (p.left < bytes) {
            // The few bytes left at the end of the old region stay unused.
            p.regions.reserve(p.regions.size() + 1);
            p.next = map_region();
            p.regions.push_back(p.next);
            p.left = region_size;
        }
        block = p.next;
        p.next += bytes;
        p.left -= bytes;
    }
    ++p.out;
    return block;
}

void GFPDB_RECORD_POOL::release(void* block, size_t size) {
    if (!block)
        return;
    if (!use_regions || size == 0 || size > largest) {
        ::operator delete(block);
        return;
    }
    POOL& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    *static_cast<void**>(block) = p.free_list[class_of(size)];
    p.free_list[class_of(size)] = block;
    if (--p.out)
        return;
    for (char* region : p.regions)
        ::munmap(region, region_size);
    p.regions.clear();
    p.free_list.fill(nullptr);
    p.next = nullptr;
    p.left = 0;
}

size_t GFPDB_RECORD_POOL::blocks_out() {
    POOL& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    return p.out;
}

size_t GFPDB_RECORD_POOL::region_bytes() {
    POOL& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    return p.regions.size() * region_size;
}

bool GFPDB_RECORD_POOL::pooling() {
    return use_regions;
}
