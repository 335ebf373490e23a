#pragma once

// The XML library's memory for a one-shot run. libxml2 allocates for every
// node and string; here blocks are cut from large chunks, never given back one
// by one, and the chunks go back to the C library together when the run ends.
// Documents are then left to the arena instead of being freed node by node.
//
// Builds for memory checkers (DOLVIN_XML_ARENA off) leave the library on the
// C library's allocator, where each of its blocks can be checked.
class XmlArena {
  public:
    // Becomes the library's allocator: must come before any other library call.
    XmlArena();
    // Releases all of the library's memory: no library object is used after.
    ~XmlArena();
    XmlArena(const XmlArena&) = delete;
    XmlArena& operator=(const XmlArena&) = delete;
};

// Whether the XML library's memory belongs to the arena now.
bool XmlArenaInstalled();
