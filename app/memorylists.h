// The two lists held whole in memory: the file-loaded list (every person with the person's
// customer, read once through a file drop list) and the hand-coded list (made-up entries). Both
// carry the Sorvex enhancement over their queue: header sorts reorder the queue itself.
#pragma once

#include <string>

namespace sorv::app {

extern const char* const FileLoadedListResource; // module SORVD008
extern const char* const HandCodedListResource;  // module SORVD009

// Control numbers of the two windows.
namespace memorylist {
enum : int {
    List = 1,
    CountPrompt = 2,
    Count = 3,
};
}

void registerMemoryLists();

// The procedures the menu starts on threads of their own.
void FileLoadedList();
void HandCodedList();

// A number's graph category: its band of `width` starting at a multiple of it ("1000 - 1999").
std::string numberBand(long long value, long long width);

} // namespace sorv::app
