// What the tests ask of the COM stand-in: nothing it hands out may outlive a walk.
#pragma once

namespace standin {

// References held on stand-in COM objects right now (every AddRef not yet matched by a Release).
long liveReferences();
// BSTRs allocated and not yet freed.
long liveBstrs();
// CoInitializeEx calls made on the calling thread, and the mode the first one asked for (-1: none).
int coInitializeCalls();
int apartmentMode();

}  // namespace standin
