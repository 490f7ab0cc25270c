// Linked into every 64-bit test program: before the tests run, every free
// region of the address space below 4 GB is reserved, so that whatever the
// program allocates afterwards (heaps that grow, its windows' data, memory
// of the tests) lies above 4 GB, as on a Windows that places memory high.
// A pointer or address cut to 32 bits then faults or reads the wrong place
// in a test, instead of hiding because Wine places memory low.
#include <windows.h>

namespace {

const ULONG_PTR FOUR_GB = 0x100000000ULL;
const ULONG_PTR GRANULARITY = 0x10000;

__attribute__((constructor(101))) void ReserveLowAddressSpace() {
    ULONG_PTR address = GRANULARITY;
    while (address < FOUR_GB) {
        MEMORY_BASIC_INFORMATION region;
        if (VirtualQuery(reinterpret_cast<void*>(address), &region, sizeof region) !=
            sizeof region) {
            break;
        }
        ULONG_PTR base = reinterpret_cast<ULONG_PTR>(region.BaseAddress);
        ULONG_PTR end = base + region.RegionSize;
        if (end > FOUR_GB) {
            end = FOUR_GB;
        }
        if (region.State == MEM_FREE) {
            // Reservations start on the allocation granularity.
            ULONG_PTR first = (base + GRANULARITY - 1) & ~(GRANULARITY - 1);
            ULONG_PTR last = end & ~(GRANULARITY - 1);
            if (last > first) {
                VirtualAlloc(reinterpret_cast<void*>(first), last - first, MEM_RESERVE,
                             PAGE_NOACCESS);
            }
        }
        if (end <= address) {
            break;
        }
        address = end;
    }
}

} // namespace
