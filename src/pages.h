// Hints to the kernel about the pages of large buffers: back them with huge pages, or take
// back the memory of pages that will not be read again.
#pragma once

#include <cstddef>

namespace vorlith {

// Asks the kernel to back [data, data + bytes) with huge pages where they fit whole: a buffer
// that is filled once from end to end takes a page fault per 2 MiB instead of per 4 KiB.
void adviseHugePages(void* data, size_t bytes);

// Asks the kernel to fault in the pages of [begin, end) now, in one call rather than one fault
// per page, for a buffer about to be filled. Only a hint: where the system takes none, the pages
// are faulted in one by one as they are written.
void populatePages(void* begin, void* end);

// Gives the memory of the whole pages in [begin, end) back to the system; they read as zeros if
// touched again. Returns false where the system takes no such hint, and the memory stays.
bool releasePages(const void* begin, const void* end);

}  // namespace vorlith
