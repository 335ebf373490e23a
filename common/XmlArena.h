#pragma once

// The XML library's memory for a one-shot run. libxml2 allocates for every
// node and string; here blocks of up to 64 KiB come from an ArenaHeap (size
// classes, free lists, chunks), larger ones from the C library, and all go
// back to it together when the arena ends. Documents are then left to the
// arena instead of being freed node by node.
//
// Every allocation that fails returns nullptr. A block of the C library made
// before the arena was installed, freed or grown in it, stays the C
// library's; a block of an arena that ended, freed or grown later, is left
// alone (growing it fails). The checkers see each block (MemoryChecker.h).
// Built with DOLVIN_XML_ARENA off (for comparisons), the library stays on
// the C library's allocator.
class XmlArena {
  public:
    // Becomes the library's allocator: must come before any other library call.
    // One arena at a time.
    XmlArena();
    // Releases all of the library's memory: no library object is used after.
    ~XmlArena();
    XmlArena(const XmlArena&) = delete;
    XmlArena& operator=(const XmlArena&) = delete;
};

// Whether the XML library's memory belongs to an arena now.
bool XmlArenaInstalled();
