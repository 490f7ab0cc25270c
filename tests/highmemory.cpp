// Linked into every 64-bit test program: before the tests run, every free
// region of the address space below 4 GB is reserved and the room the
// process heap already had there is taken, so that whatever the program
// allocates afterwards (heap blocks, its windows' data, memory of the tests)
// lies above 4 GB, as on a Windows that places memory high.
// A pointer or address cut to 32 bits then faults or reads the wrong place
// in a test, instead of hiding because Wine places memory low.
#include <windows.h>

#include <stdlib.h>

#include <initializer_list>

namespace {

const ULONG_PTR FOUR_GB = 0x100000000ULL;
const ULONG_PTR GRANULARITY = 0x10000;

// The process heap began below 4 GB, before anything could be reserved:
// its room there is taken, block size by block size, so that the blocks the
// program allocates from now on come from the heap's growth above 4 GB. The
// C library's own heap, made before any of this program's code ran, the
// same way.
void FillLowHeap() {
    HANDLE heap = GetProcessHeap();
    for (SIZE_T size : {SIZE_T(65536), SIZE_T(4096), SIZE_T(256), SIZE_T(16)}) {
        for (int i = 0; i < 200000; i++) {
            void* block = HeapAlloc(heap, 0, size);
            if (!block || reinterpret_cast<ULONG_PTR>(block) >= FOUR_GB) {
                HeapFree(heap, 0, block);
                break;
            }
        }
        for (int i = 0; i < 200000; i++) {
            void* block = malloc(size);
            if (!block || reinterpret_cast<ULONG_PTR>(block) >= FOUR_GB) {
                free(block);
                break;
            }
        }
    }
}

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
    FillLowHeap();
}

} // namespace
