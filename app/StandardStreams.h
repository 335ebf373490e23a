#pragma once

// Makes sure descriptors 0, 1 and 2 are open before the program opens any
// file. A standard stream that the caller left closed is held on /dev/null,
// opened so that the stream cannot be used for its purpose (read-only for
// output, write-only for input): its reads and writes still fail, as on a
// closed descriptor, and no file dolvin opens (a store among them) can take
// its number and receive the output meant for the stream. False when one
// could not be held.
bool HoldStandardDescriptors();
