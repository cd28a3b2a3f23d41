#pragma once

#include <cstddef>

// Maps the pages of a large, freshly allocated buffer in one go. Touching
// them one by one as the buffer fills takes a page fault every 4 KB; on a
// virtual machine those faults cost more than the work done in the buffer.
// Huge pages, where the system offers them, cut the count further. Small
// buffers are left alone; a refusal by the system only costs the speed-up.
void PrefaultBuffer(void* data, size_t size);
